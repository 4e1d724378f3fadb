#include "TextExport.h"
#include "Cp1251.h"
#include "ExportError.h"
#include "ExportTestGrids.h"
#include "TextFileWriteTest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The lines of a file, each followed by CR LF, encoded as the file is.
QByteArray FileOf(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return ToCp1251(text);
}

const QString kDataHeadingLine = "№\tДата\tВремя\tТпод\tТобр\tТп1\tТп2\tТп\tТнар.\tТграф\tТуст\t"
                                 "Ттреб\ttвозд\tРеле\t";
const QString kSettingsHeadingLine = "№\tДата\tВремя\tРежим\tТип рег.\tКнак.1\tКнак.2\tТнач.от.\t"
                                     "Тизл.от.\tКкорр.\ttц.\ttпост.\tКп\tКи\tКд\tЗащ.инт.\t";

void SetRow(TextGrid& grid, int row, const QStringList& cells) {
    for (int c = 0; c < cells.size(); ++c)
        grid.SetCell(c, row, cells[c]);
}

} // namespace

TEST(HeadingLines, SerialAndPlaceLines) {
    HeadingLines h = MakeHeadingLines("Лорк КB-9000Л вер. 1.07", "Серийный номер:", 1234,
                                      "Место установки регулятора:", "Котельная №2");
    EXPECT_EQ(h.identification, "Лорк КB-9000Л вер. 1.07");
    EXPECT_EQ(h.serialLine, "Серийный номер: 1234");
    EXPECT_EQ(h.placeLine, "Место установки регулятора: Котельная №2");

    // No thousands separator, whatever the locale; an empty comment keeps the label's space.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    h = MakeHeadingLines("", "Серийный номер:", 65535, "Место установки регулятора:", "");
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(h.serialLine, "Серийный номер: 65535");
    EXPECT_EQ(h.placeLine, "Место установки регулятора: ");
}

TEST(TextExportFile, NoControllerBeforeAnyDownload) {
    WindowGrids grids;
    // Channel 2's grids hold something, yet without a controller they must not appear.
    SetRow(grids.grid3, 1, {"1", "01.01.10"});
    const QByteArray file = BuildTextExport(grids.Source(0, "", 1, ""));

    const QByteArray expected =
        FileOf({"", "Серийный номер: 1", "Место установки регулятора: ", "", "Канал 1: настройки",
                kSettingsHeadingLine, "", "Канал 1: данные", kDataHeadingLine, ""});
    EXPECT_EQ(file, expected);
}

TEST(TextExportFile, EncodingIsWindows1251WithCrLf) {
    WindowGrids grids;
    const QByteArray file = BuildTextExport(grids.Source(1, "Лорк", 7, "Ёж"));
    // "Лорк" in Windows-1251, no byte-order mark, CR LF after the line.
    EXPECT_TRUE(file.startsWith(QByteArray("\xCB\xEE\xF0\xEA\r\n")));
    // Upper-case Ё is 0xA8, lower-case ж 0xE6.
    EXPECT_TRUE(file.contains(QByteArray(": \xA8\xE6\r\n")));
    // The data heading line starts with "№" as the single byte 0xB9, then "Дата".
    EXPECT_TRUE(file.contains(QByteArray("\r\n\xB9\t\xC4\xE0\xF2\xE0\t\xC2\xF0")));
    // Every line feed is preceded by a carriage return.
    for (qsizetype i = file.indexOf('\n'); i >= 0; i = file.indexOf('\n', i + 1))
        ASSERT_EQ(file.at(i - 1), '\r') << "at byte " << i;
    EXPECT_TRUE(file.endsWith("\r\n\r\n"));
}

TEST(TextExportFile, TwoChannelsSkipBlankRowsAndEndWithoutEmptyLine) {
    WindowGrids grids;
    grids.grid1.SetRowCount(4221);
    grids.grid3.SetRowCount(4221);
    SetRow(grids.grid2, 1,
           {"1", "01.02.10", "08:00:00", "1", "2", "1,5", "0,8", "70,0", "20,0", "3", "10", "60",
            "5", "6", "7", "-300,0"});
    SetRow(grids.grid2, 3, {"3", "05.02.10", "09:00:00", "1", "2"}); // the rest empty
    SetRow(grids.grid1, 1,
           {"1", "15.03.10", "08:30:45", "55,0", "40,0", "", "", "", "-5,5", "56,0", "???,?",
            "55,5", "-1", "255"});
    SetRow(grids.grid1, 4, {"4", "15.03.10", "08:31:45"});
    SetRow(grids.grid1, 4220, {"4220", "16.03.10", "00:00:00"});
    SetRow(grids.grid3, 2, {"2", "FF.FF.FF", "FF:FF:FF"});
    SetRow(grids.grid4, 4, {"4"});

    const QByteArray file =
        BuildTextExport(grids.Source(2, "Лорк КB-9000Л-2К вер. 1.07", 12345, "Котельная"));

    const QByteArray expected = FileOf({
        "Лорк КB-9000Л-2К вер. 1.07",
        "Серийный номер: 12345",
        "Место установки регулятора: Котельная",
        "",
        "Канал 1: настройки",
        kSettingsHeadingLine,
        "1\t01.02.10\t08:00:00\t1\t2\t1,5\t0,8\t70,0\t20,0\t3\t10\t60\t5\t6\t7\t-300,0\t",
        "3\t05.02.10\t09:00:00\t1\t2\t\t\t\t\t\t\t\t\t\t\t\t",
        "",
        "Канал 1: данные",
        kDataHeadingLine,
        "1\t15.03.10\t08:30:45\t55,0\t40,0\t\t\t\t-5,5\t56,0\t???,?\t55,5\t-1\t255\t",
        "4\t15.03.10\t08:31:45\t\t\t\t\t\t\t\t\t\t\t\t",
        "4220\t16.03.10\t00:00:00\t\t\t\t\t\t\t\t\t\t\t\t",
        "",
        "Канал 2: настройки",
        kSettingsHeadingLine,
        "4\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t",
        "",
        "Канал 2: данные",
        kDataHeadingLine,
        "2\tFF.FF.FF\tFF:FF:FF\t\t\t\t\t\t\t\t\t\t\t\t",
    });
    EXPECT_EQ(file, expected);
}

TEST(TextExportFile, OneChannelEndsWithOneEmptyLineAndColumnsComeFromTheGrid) {
    // Grids of other shapes: the column count is the grid's, not a fixed 14 or 16.
    TextGrid data(3, 4), settings(2, 2);
    SetRow(data, 0, {"№", "a", "b"});
    SetRow(data, 2, {"2", "", "x"});
    SetRow(settings, 0, {"№", "s"});
    ExportSource source;
    source.headings =
        MakeHeadingLines("id", "Серийный номер:", 3, "Место установки регулятора:", "c");
    source.channelCount = 1;
    source.grid1 = &data;
    source.grid2 = &settings;
    // grid3 and grid4 stay null: with one channel they are never read.

    EXPECT_EQ(BuildTextExport(source),
              FileOf({"id", "Серийный номер: 3", "Место установки регулятора: c", "",
                      "Канал 1: настройки", "№\ts\t", "", "Канал 1: данные", "№\ta\tb\t",
                      "2\t\tx\t", ""}));
}

TEST(TextExportFile, FullTwoChannelArchiveWritesEveryRecord) {
    WindowGrids grids;
    FillFullArchive(grids, 2);
    const QByteArray file = BuildTextExport(grids.Source(2, "id", 1, ""));
    // 3 heading lines, 4 empty lines, 4 section titles, 4 heading rows, 2 × (4 + 4220) records.
    EXPECT_EQ(file.count("\r\n"), 3 + 4 + 4 + 4 + 2 * (4 + 4220));
    EXPECT_TRUE(file.endsWith(ToCp1251(GeneratedCell(2, 'D', 13, 4220) + "\t\r\n")));
}

TEST_F(TextFileWriteTest, NewFileAndReplacingALongerOne) {
    const QString path = Path("archive.txt");
    WriteTextFile(path, "first\r\n");
    EXPECT_EQ(ReadAll(path), "first\r\n");

    WriteAll(path, QByteArray(10000, 'x'));
    WriteTextFile(path, "short\r\n");
    EXPECT_EQ(ReadAll(path), "short\r\n"); // replaced, not overwritten in place
    EXPECT_EQ(Entries(), QStringList{"archive.txt"});
}

TEST_F(TextFileWriteTest, FileThatCannotBeCreated) {
    const QString missing = Path("no such folder/archive.txt");
    EXPECT_EQ(ErrorOf(missing, "x\r\n"), "Cannot create file " + missing);
    EXPECT_FALSE(QFile::exists(missing));

    // A regular file where a folder should be: root cannot create anything below it either.
    const QString plain = Path("plain");
    WriteAll(plain, "earlier");
    EXPECT_EQ(ErrorOf(plain + "/archive.txt", "x\r\n"),
              "Cannot create file " + plain + "/archive.txt");
    EXPECT_EQ(ReadAll(plain), "earlier");
}
