#include "ExcelExport.h"
#include "ExportTestGrids.h"
#include "XlsxWorkbookApp.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace {

using CellMap = std::map<std::pair<int, int>, QString>; // (row, column) -> text

struct ReadSheet {
    QString name;
    CellMap cells;
    QStringList nonTextCells; // references of cells not stored as text
};

QString Python() {
    // The system's interpreter first: zipfile and xml.etree are all the reader needs.
    if (QFileInfo::exists("/usr/bin/python3"))
        return "/usr/bin/python3";
    return QStandardPaths::findExecutable("python3");
}

// The sheets of an .xlsx file in their order, read by an independent reader.
std::vector<ReadSheet> ReadXlsx(const QString& path) {
    QProcess reader;
    reader.start(Python(), {KV_XLSX_READER, path});
    EXPECT_TRUE(reader.waitForFinished(60000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    const QJsonObject root = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    std::vector<ReadSheet> sheets;
    for (const QJsonValue& s : root["sheets"].toArray()) {
        ReadSheet sheet;
        sheet.name = s["name"].toString();
        for (const QJsonValue& c : s["cells"].toArray()) {
            const QJsonArray cell = c.toArray();
            const int row = cell[0].toInt(), column = cell[1].toInt();
            const QString type = cell[2].toString();
            if (type != "s" && type != "inlineStr")
                sheet.nonTextCells << QString("(%1,%2):%3").arg(row).arg(column).arg(type);
            sheet.cells[{row, column}] = cell[3].toString();
        }
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

// What a sheet must hold: the heading lines, the settings from row 4, the data from row 10. An
// empty text leaves its cell empty, so only the non-empty texts are expected as cells.
CellMap ExpectedSheet(const ExportSource& source, const TextGrid& settings, const TextGrid& data,
                      const QString& suffix) {
    CellMap cells;
    auto put = [&cells](int row, int column, const QString& text) {
        if (!text.isEmpty())
            cells[{row, column}] = text;
    };
    put(1, 1, source.headings.identification + suffix);
    put(2, 1, source.headings.serialLine);
    put(3, 1, source.headings.placeLine);
    for (auto [grid, first] : {std::pair{&settings, 4}, {&data, 10}})
        for (int r = 0; r < grid->RowCount(); ++r)
            for (int c = 0; c < grid->ColCount(); ++c)
                put(first + r, c + 1, grid->Cell(c, r));
    return cells;
}

class XlsxWorkbookTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QStringList opened;

    XlsxApplicationOptions Options(bool openerSucceeds = true) {
        XlsxApplicationOptions options;
        options.folderRoot = root.path();
        options.opener = [this, openerSucceeds](const QString& path) {
            opened << path;
            return openerSucceeds;
        };
        return options;
    }

    // Runs the whole export into a real workbook and returns the file the opener was given.
    QString Export(const ExportSource& source) {
        std::shared_ptr<ExcelApplication> excelApp;
        std::shared_ptr<ExcelWorksheet> excelSheet;
        ExcelExportHooks hooks;
        hooks.start = [this] { return MakeXlsxApplication(Options()); };
        QStringList errors;
        hooks.showError = [&errors](const QString& text) { errors << text; };
        EXPECT_EQ(ExcelExport({excelApp, excelSheet}, hooks).Run(source),
                  ExcelExportOutcome::Completed);
        EXPECT_TRUE(errors.isEmpty()) << errors.join('|').toStdString();
        EXPECT_EQ(opened.size(), 1);
        return opened.value(0);
    }
};

} // namespace

TEST_F(XlsxWorkbookTest, FullOneChannelArchiveReadsBackAsText) {
    WindowGrids grids;
    FillFullArchive(grids, 1);
    grids.grid1.ClearRow(17); // a blank row between records stays blank in the sheet
    const ExportSource source = grids.Source(1, "Лорк КB-9000Л вер. 1.07", 12345, "");

    const QString path = Export(source);
    const QFileInfo file(path);
    ASSERT_TRUE(file.isFile());
    // A new folder of its own under the given root, a readable name with date and time.
    EXPECT_EQ(QDir(file.dir().absolutePath() + "/..").canonicalPath(),
              QDir(root.path()).canonicalPath());
    EXPECT_TRUE(file.dir().dirName().startsWith("kv9000-"));
    EXPECT_TRUE(QRegularExpression(R"(^КВ-9000Л \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.xlsx$)")
                    .match(file.fileName())
                    .hasMatch())
        << file.fileName().toStdString();

    const std::vector<ReadSheet> sheets = ReadXlsx(path);
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].name, "Канал 1");
    EXPECT_EQ(sheets[1].name, "Канал 2");
    EXPECT_EQ(sheets[0].nonTextCells, QStringList{});
    EXPECT_TRUE(sheets[0].cells == ExpectedSheet(source, grids.grid2, grids.grid1, " - Канал 1"));
    EXPECT_EQ(sheets[0].cells.at({1, 1}), "Лорк КB-9000Л вер. 1.07 - Канал 1");
    EXPECT_EQ(sheets[0].cells.at({3, 1}), "Место установки регулятора: ");
    EXPECT_EQ(sheets[0].cells.at({10 + 8444, 1}), "8444");
    EXPECT_EQ(sheets[0].cells.count({10 + 17, 1}), 0u);
    EXPECT_TRUE(sheets[1].cells.empty());
}

TEST_F(XlsxWorkbookTest, FullTwoChannelArchiveReadsBackAsText) {
    WindowGrids grids;
    FillFullArchive(grids, 2);
    const ExportSource source = grids.Source(2, "", 7, "Котельная");

    const std::vector<ReadSheet> sheets = ReadXlsx(Export(source));
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].name, "Канал 1");
    EXPECT_EQ(sheets[1].name, "Канал 2");
    for (const ReadSheet& sheet : sheets)
        EXPECT_EQ(sheet.nonTextCells, QStringList{}) << sheet.name.toStdString();
    EXPECT_TRUE(sheets[0].cells == ExpectedSheet(source, grids.grid2, grids.grid1, " - Канал 1"));
    EXPECT_TRUE(sheets[1].cells == ExpectedSheet(source, grids.grid4, grids.grid3, " - Канал 2"));
    EXPECT_EQ(sheets[1].cells.at({1, 1}), " - Канал 2");
    EXPECT_EQ(sheets[1].cells.size(), 3u + 5 * 16 + 4221 * 14);
}

TEST_F(XlsxWorkbookTest, UnopenedWorkbookIsNamedInTheError) {
    auto app = MakeXlsxApplication(Options(false));
    app->WorkBooks()->Add();
    app->WorkSheets(1)->Cells(1, 1)->SetValue("x");
    try {
        app->SetVisible(true);
        FAIL() << "no error";
    } catch (const ExportError& e) {
        ASSERT_EQ(opened.size(), 1);
        EXPECT_TRUE(e.Text().contains(QDir::toNativeSeparators(opened.first())))
            << e.Text().toStdString();
        EXPECT_TRUE(QFileInfo::exists(opened.first())); // the user can still find it
    }
    // Shown once: a later Visible does not write or open it again.
    EXPECT_NO_THROW(app->SetVisible(true));
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(XlsxWorkbookTest, SheetsCellsAndTheirRules) {
    auto app = MakeXlsxApplication(Options());
    EXPECT_THROW(app->WorkSheets(1), ExportError); // no workbook yet
    app->WorkBooks()->Add();
    auto sheets = app->Worksheets();
    ASSERT_EQ(sheets->Count(), 1);
    EXPECT_THROW(sheets->Item(2), ExportError);

    auto first = sheets->Item(1);
    auto second = sheets->AddAfter(first);
    auto third = sheets->AddAfter(second);
    auto between = sheets->AddAfter(first); // directly after the first, before the others
    EXPECT_EQ(sheets->Count(), 4);

    first->SetName("Старое имя");
    first->SetName("Канал 1"); // renamed after creation: the last name counts
    EXPECT_THROW(second->SetName("КАНАЛ 1"), ExportError);
    for (const QString& bad : QStringList{"", "a/b", "a[1]", "'x", "x'", QString(32, 'x')})
        EXPECT_THROW(second->SetName(bad), ExportError) << bad.toStdString();
    second->SetName(QString(31, 'x'));
    between->SetName("Между");
    third->SetName("Канал 1 копия");

    EXPECT_THROW(first->Cells(0, 1), ExportError);
    EXPECT_THROW(first->Cells(1, 16385), ExportError);
    EXPECT_THROW(first->Cells(1048577, 1), ExportError);
    first->Cells(1048576, 16384)->SetValue("край");
    first->Cells(1, 1)->SetValue("0012");
    first->Cells(1, 2)->SetValue("=1+1");
    first->Cells(1, 3)->SetValue("затёрто");
    first->Cells(1, 3)->SetValue(""); // empties the cell
    EXPECT_THROW(first->Cells(2, 1)->SetValue(QString(32768, 'y')), ExportError);
    first->Cells(2, 1)->SetValue(QString(32767, 'y'));
    // A range stays usable after the sheet handle that gave it is gone.
    auto range = app->WorkSheets(1)->Cells(3, 1);
    range->SetValue(" пробел ");

    app->SetVisible(true);
    ASSERT_EQ(opened.size(), 1);
    const std::vector<ReadSheet> read = ReadXlsx(opened.first());
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].name, "Канал 1");
    EXPECT_EQ(read[1].name, "Между");
    EXPECT_EQ(read[2].name, QString(31, 'x'));
    EXPECT_EQ(read[3].name, "Канал 1 копия");
    EXPECT_EQ(read[0].nonTextCells, QStringList{});
    const CellMap expected = {{{1, 1}, "0012"},
                              {{1, 2}, "=1+1"},
                              {{2, 1}, QString(32767, 'y')},
                              {{3, 1}, " пробел "},
                              {{1048576, 16384}, "край"}};
    EXPECT_TRUE(read[0].cells == expected);
}

TEST(SafeFileName, KeepsReadableTextAndReplacesWhatFileSystemsRefuse) {
    EXPECT_EQ(SafeFileName("КВ-9000Л 2026-12-07 21-05-33"), "КВ-9000Л 2026-12-07 21-05-33");
    EXPECT_EQ(SafeFileName("a/b\\c:d*e?f\"g<h>i|j\tk"), "a_b_c_d_e_f_g_h_i_j_k");
    EXPECT_EQ(SafeFileName(" . name . "), "name");
    EXPECT_EQ(SafeFileName(".."), "Книга");
    EXPECT_EQ(SafeFileName(""), "Книга");
}
