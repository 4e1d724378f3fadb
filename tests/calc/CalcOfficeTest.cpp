// The Calc export into a real office through the module, read back over a connection of the
// test's own. Needs a display (Xvfb will do) and the office; each test runs its own office on a
// fresh profile and ends it afterwards.

#include "CalcExport.h"
#include "OOCalcAuto.h"
#include "OfficeConnection.h"
#include "OfficeProbe.h"
#include "TextGrid.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <unistd.h>
#include <vector>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

using CellMap = QMap<std::pair<int, int>, QString>;

// Grids shaped as the decoder leaves them: headings in row 0, blank rows for erased records,
// numbers and dates as the texts the window shows.
struct Channel {
    TextGrid data{14, 5};
    TextGrid settings{16, 5};

    explicit Channel(const QString& tag) {
        for (int c = 0; c < 14; ++c)
            data.SetCell(c, 0, QStringLiteral("Заголовок %1").arg(c));
        for (int c = 0; c < 16; ++c)
            settings.SetCell(c, 0, QStringLiteral("Уставка %1").arg(c));
        for (int c = 0; c < 14; ++c) {
            data.SetCell(c, 1, QStringLiteral("%1,5").arg(c - 3));
            data.SetCell(c, 3, c % 3 == 0 ? QString() : QStringLiteral("???,?"));
        }
        data.SetCell(0, 1, QStringLiteral("01.02.24 ") + tag);
        data.SetCell(0, 4, QStringLiteral("0123")); // leading zero must survive as text
        // row 2 stays blank (an erased record)
        for (int r = 1; r < 5; ++r)
            for (int c = 0; c < 16; c += 2)
                settings.SetCell(c, r, QStringLiteral("%1").arg(r * 100 + c));
    }
};

HeadingLines Headings(const QString& identification) {
    return {identification, QStringLiteral("Серийный номер: 12345"),
            QStringLiteral("Место установки регулятора: Котельная №2")};
}

// What a sheet must hold: the heading lines in B2..B4 and every non-empty grid cell one column
// to the right, settings from row index 4, data from row index 10.
CellMap Expected(const QString& headingLine1, const HeadingLines& h, const Channel& channel) {
    CellMap cells;
    cells[{1, 1}] = headingLine1;
    cells[{1, 2}] = h.serialLine;
    cells[{1, 3}] = h.placeLine;
    auto add = [&](const TextGrid& grid, int firstRow) {
        for (int r = 0; r < grid.RowCount(); ++r)
            for (int c = 0; c < grid.ColCount(); ++c)
                if (!grid.Cell(c, r).isEmpty())
                    cells[{c + 1, firstRow + r}] = grid.Cell(c, r);
    };
    add(channel.settings, 4);
    add(channel.data, 10);
    return cells;
}

// "B11=text" lines in row order, so that a failure shows the cells by their addresses.
std::vector<std::string> Listing(const CellMap& cells) {
    std::vector<std::pair<std::pair<int, int>, std::string>> sorted;
    for (auto it = cells.begin(); it != cells.end(); ++it)
        sorted.push_back({{it.key().second, it.key().first},
                          QStringLiteral("%1%2=%3")
                              .arg(QChar(u'A' + it.key().first))
                              .arg(it.key().second + 1)
                              .arg(it.value())
                              .toStdString()});
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> lines;
    for (const auto& entry : sorted)
        lines.push_back(entry.second);
    return lines;
}

void ExpectColumnAAndRow1Empty(const SheetContent& sheet) {
    for (auto it = sheet.texts.begin(); it != sheet.texts.end(); ++it) {
        EXPECT_NE(it.key().first, 0) << "column A holds " << it.value().toStdString();
        EXPECT_NE(it.key().second, 0) << "row 1 holds " << it.value().toStdString();
    }
}

class CalcOfficeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "no DISPLAY: the office needs one (start Xvfb and export DISPLAY)";
        if (FindOffice().isEmpty())
            GTEST_SKIP() << "no soffice: the office is not installed";
        ASSERT_TRUE(QFileInfo::exists(CalcModulePath()))
            << "the Calc module is missing: " << CalcModulePath().toStdString();

        // A profile of our own: no clash with the user's office or with a parallel test, and
        // the office this test starts is the one it ends.
        ASSERT_TRUE(profile_.isValid());
        setenv("UserInstallation", QUrl::fromLocalFile(profile_.path()).toEncoded().constData(), 1);
        probe_ = std::make_unique<OfficeProbe>(profile_.filePath(QStringLiteral("office.log")));
        ASSERT_EQ(probe_->SpreadsheetCount(), 0);
    }

    void TearDown() override {
        if (!probe_)
            return;
        probe_->CloseDocuments();
        probe_->Terminate();
        // The office removes the lock of its profile when it has ended.
        const QString lock = profile_.path() + QStringLiteral("/.lock");
        QElapsedTimer waited;
        waited.start();
        while (QFileInfo::exists(lock) && waited.elapsed() < 30000)
            QThread::msleep(100);
        EXPECT_FALSE(QFileInfo::exists(lock)) << "the office did not end";
    }

    CalcExportResult Export(const ExportSource& source, int* steps = nullptr, int* max = nullptr) {
        ExportProgress progress;
        progress.setMax = [max](int m) {
            if (max)
                *max = m;
        };
        progress.step = [steps] {
            if (steps)
                ++*steps;
        };
        return ExportToCalc(source, progress, [] { return std::make_unique<OOCalcAuto>(); });
    }

    QTemporaryDir profile_;
    std::unique_ptr<OfficeProbe> probe_;
};

TEST_F(CalcOfficeTest, OneChannelFillsSheetKanal1BeforeTheDocumentsOwnSheet) {
    const Channel one(QStringLiteral("к1"));
    const HeadingLines h = Headings(QStringLiteral("Лорк КB-9000Л вер. 1.07"));
    int steps = 0;
    int max = 0;
    ASSERT_EQ(Export({h, 1, &one.data, &one.settings, nullptr, nullptr}, &steps, &max),
              CalcExportResult::Written);
    EXPECT_EQ(max, 20);
    EXPECT_EQ(steps, 10);

    const DocumentContent doc = probe_->ReadOnlySpreadsheet();
    ASSERT_EQ(doc.sheetNames.size(), 2) << doc.sheetNames.join(u',').toStdString();
    EXPECT_EQ(doc.sheetNames[0], QStringLiteral("Канал 1"));
    EXPECT_EQ(doc.activeSheet, QStringLiteral("Канал 1"));
    EXPECT_EQ(Listing(doc.sheets[0].texts),
              Listing(Expected(h.identification + " - Канал 1", h, one)));
    EXPECT_EQ(doc.sheets[0].nonTextCells, 0) << "a text was turned into a number";
    ExpectColumnAAndRow1Empty(doc.sheets[0]);
    EXPECT_TRUE(doc.sheets[1].texts.isEmpty()) << "the document's own sheet was written";
    // Left for the user: open, changed, never stored.
    EXPECT_TRUE(doc.modified);
    EXPECT_FALSE(doc.stored);
}

TEST_F(CalcOfficeTest, TwoChannelsFillKanal1ThenKanal2AndLeaveKanal2Active) {
    const Channel one(QStringLiteral("к1"));
    const Channel two(QStringLiteral("к2"));
    const HeadingLines h = Headings(QStringLiteral("Лорк КB-9000Л-2К вер. 1.07"));
    ASSERT_EQ(Export({h, 2, &one.data, &one.settings, &two.data, &two.settings}),
              CalcExportResult::Written);

    const DocumentContent doc = probe_->ReadOnlySpreadsheet();
    ASSERT_EQ(doc.sheetNames.size(), 3) << doc.sheetNames.join(u',').toStdString();
    EXPECT_EQ(doc.sheetNames[0], QStringLiteral("Канал 1"));
    EXPECT_EQ(doc.sheetNames[1], QStringLiteral("Канал 2"));
    EXPECT_EQ(doc.activeSheet, QStringLiteral("Канал 2"));
    EXPECT_EQ(Listing(doc.sheets[0].texts),
              Listing(Expected(h.identification + " - Канал 1", h, one)));
    EXPECT_EQ(Listing(doc.sheets[1].texts),
              Listing(Expected(h.identification + " - Канал 2", h, two)));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(doc.sheets[i].nonTextCells, 0);
        ExpectColumnAAndRow1Empty(doc.sheets[i]);
    }
    EXPECT_TRUE(doc.sheets[2].texts.isEmpty());
}

TEST_F(CalcOfficeTest, SelectingAnExistingSheetInsertsNothingAndActivatesIt) {
    OOCalcAuto calc;
    ASSERT_TRUE(calc.Connect());
    calc.NewDocument();
    calc.SelectSheet(QStringLiteral("Канал 1"), 0);
    calc.SelectSheet(QStringLiteral("Канал 2"), 1);
    EXPECT_TRUE(calc.HasSheet(QStringLiteral("Канал 1")));
    calc.SelectSheet(QStringLiteral("Канал 1"), 2);
    calc.SetCellText(3, 7, QString()); // an empty text leaves an empty cell
    calc.SetCellText(2, 5, QStringLiteral("Ёлка"));
    calc.ReleaseAll();

    const DocumentContent doc = probe_->ReadOnlySpreadsheet();
    ASSERT_EQ(doc.sheetNames.size(), 3);
    EXPECT_EQ(doc.sheetNames.mid(0, 2), (QStringList{"Канал 1", "Канал 2"}));
    EXPECT_EQ(doc.activeSheet, QStringLiteral("Канал 1"));
    EXPECT_EQ(Listing(doc.sheets[0].texts), std::vector<std::string>{"C6=Ёлка"});
}

TEST_F(CalcOfficeTest, TheOfficeOfAnEarlierExportIsReachedAgainWithoutAnotherLauncher) {
    OOCalcAuto first;
    ASSERT_TRUE(first.Connect());
    first.ReleaseAll();
    // With no soffice to start, only the office reached before can answer.
    const QByteArray unoPath = qgetenv("UNO_PATH");
    QTemporaryDir noOffice;
    qputenv("UNO_PATH", noOffice.path().toLocal8Bit());
    OOCalcAuto second;
    const bool reached = second.Connect();
    unoPath.isNull() ? qunsetenv("UNO_PATH") : qputenv("UNO_PATH", unoPath);
    EXPECT_TRUE(reached);
}

// The processes of the office this test started (its launcher and the office itself), found by
// the profile in their environment.
std::vector<pid_t> OfficeOfProfile(const QString& profile) {
    std::vector<pid_t> found;
    const QByteArray wanted = "UserInstallation=" + QUrl::fromLocalFile(profile).toEncoded();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (number && pid != getpid() && environ.open(QIODevice::ReadOnly) &&
            environ.readAll().split('\0').contains(wanted))
            found.push_back(pid);
    }
    return found;
}

// The office ends under an export (it crashed, or was killed): the writes that follow fail with
// a text, and the program goes on; its pipe broken under a write must not end the program.
TEST_F(CalcOfficeTest, AnOfficeThatEndsUnderAnExportGivesAnErrorAndTheProgramGoesOn) {
    OOCalcAuto calc;
    ASSERT_TRUE(calc.Connect());
    calc.NewDocument();
    calc.SelectSheet(QStringLiteral("Канал 1"), 0);
    const std::vector<pid_t> office = OfficeOfProfile(profile_.path());
    ASSERT_FALSE(office.empty());
    probe_.reset(); // nothing left to end or to ask
    bool failed = false;
    QElapsedTimer writing;
    writing.start();
    for (int row = 1; !failed && writing.elapsed() < 30000; ++row) {
        if (row == 20)
            for (const pid_t pid : office)
                ::kill(pid, SIGKILL);
        try {
            calc.SetCellText(1, row, QStringLiteral("строка %1").arg(row));
        } catch (const ExportError& e) {
            failed = true;
            EXPECT_FALSE(e.Text().isEmpty());
        }
    }
    EXPECT_TRUE(failed) << "writing into an office that ended succeeded for 30 s";
    calc.ReleaseAll(); // still safe
}

TEST_F(CalcOfficeTest, DocumentClosedWhileWritingGivesAnErrorWithTheOfficesText) {
    OOCalcAuto calc;
    ASSERT_TRUE(calc.Connect());
    calc.NewDocument();
    calc.SelectSheet(QStringLiteral("Канал 1"), 0);
    calc.SetCellText(1, 1, QStringLiteral("до"));
    probe_->CloseDocuments();
    try {
        calc.SetCellText(1, 2, QStringLiteral("после"));
        FAIL() << "writing into a closed document succeeded";
    } catch (const ExportError& e) {
        EXPECT_FALSE(e.Text().isEmpty());
    }
    calc.ReleaseAll(); // still safe after the failure
    EXPECT_EQ(probe_->SpreadsheetCount(), 0);
}

} // namespace
