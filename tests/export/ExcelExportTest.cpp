#include "ExcelExport.h"
#include "ExportTestGrids.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <utility>

namespace {

// A workbook application that records every call into one log, the progress hooks and the error
// boxes included, and fails where a test tells it to.
struct Script {
    QStringList log;
    int sheetsInNewBook = 2;
    bool startFails = false;
    QString failAt; // the log entry whose call fails, e.g. "add", "Item(1)", "Name[2]", "Visible"
    std::set<std::pair<int, int>> failingCellGets, failingValuePuts; // (row, column) on sheet 1
    int cancelAfterRows = -1;                                        // rows written, then stop
    // The application goes away at this cell's value (on sheet 1), or at the call failAt when
    // goneAtFailAt; from then on every call fails as a vanished server's calls do.
    std::pair<int, int> goneAtValue{0, 0};
    bool goneAtFailAt = false;
    bool gone = false;

    void Call(const QString& entry) {
        log << entry;
        if (entry == failAt && goneAtFailAt)
            gone = true;
        ThrowIfGone();
        if (entry == failAt)
            throw ExportError("failed: " + entry);
    }
    void ThrowIfGone() const {
        if (gone)
            throw ExportError("disconnected", ExportError::Kind::ServerGone);
    }
};

struct FakeSheet {
    int id;
};

class FakeRange : public ExcelRange {
public:
    FakeRange(Script& s, int sheet, int row, int col)
        : s_(s), sheet_(sheet), row_(row), col_(col) {}
    void SetValue(const QString& text) override {
        s_.log << QString("Cell[%1](%2,%3)=%4").arg(sheet_).arg(row_).arg(col_).arg(text);
        if (sheet_ == 1 && s_.goneAtValue == std::pair(row_, col_))
            s_.gone = true;
        s_.ThrowIfGone();
        if (sheet_ == 1 && s_.failingValuePuts.count({row_, col_}))
            throw ExportError("value");
    }

private:
    Script& s_;
    int sheet_, row_, col_;
};

class FakeWorksheet : public ExcelWorksheet {
public:
    FakeWorksheet(Script& s, int id) : s_(s), id_(id) {}
    void SetName(const QString& name) override {
        s_.Call(QString("Name[%1]").arg(id_));
        s_.log.last() += "=" + name;
    }
    std::shared_ptr<ExcelRange> Cells(int row, int column) override {
        if (s_.gone) {
            s_.log << QString("Cell[%1](%2,%3) get").arg(id_).arg(row).arg(column);
            s_.ThrowIfGone();
        }
        if (id_ == 1 && s_.failingCellGets.count({row, column})) {
            s_.log << QString("Cell[%1](%2,%3) get failed").arg(id_).arg(row).arg(column);
            throw ExportError("cells");
        }
        return std::make_shared<FakeRange>(s_, id_, row, column);
    }
    int Id() const { return id_; }

private:
    Script& s_;
    int id_;
};

class FakeWorksheets : public ExcelWorksheets {
public:
    FakeWorksheets(Script& s, std::vector<int>& sheets) : s_(s), sheets_(sheets) {}
    int Count() override {
        s_.Call("Count");
        return static_cast<int>(sheets_.size());
    }
    std::shared_ptr<ExcelWorksheet> Item(int index) override {
        s_.Call(QString("Item(%1)").arg(index));
        if (index < 1 || index > static_cast<int>(sheets_.size()))
            throw ExportError("no such sheet");
        return std::make_shared<FakeWorksheet>(s_, sheets_[index - 1]);
    }
    std::shared_ptr<ExcelWorksheet>
    AddAfter(const std::shared_ptr<ExcelWorksheet>& after) override {
        const int afterId = dynamic_cast<FakeWorksheet&>(*after).Id();
        s_.Call(QString("AddAfter[%1]").arg(afterId));
        const int id = static_cast<int>(sheets_.size()) + 1;
        for (auto it = sheets_.begin(); it != sheets_.end(); ++it)
            if (*it == afterId) {
                sheets_.insert(it + 1, id);
                break;
            }
        return std::make_shared<FakeWorksheet>(s_, id);
    }

private:
    Script& s_;
    std::vector<int>& sheets_;
};

class FakeApp : public ExcelApplication, public ExcelWorkbooks {
public:
    explicit FakeApp(Script& s) : s_(s) {}
    std::shared_ptr<ExcelWorkbooks> WorkBooks() override {
        s_.Call("WorkBooks");
        return std::shared_ptr<ExcelWorkbooks>(std::shared_ptr<ExcelWorkbooks>{}, this);
    }
    void Add() override {
        s_.Call("add");
        sheets_.clear();
        for (int i = 1; i <= s_.sheetsInNewBook; ++i)
            sheets_.push_back(i);
    }
    std::shared_ptr<ExcelWorksheet> WorkSheets(int index) override {
        s_.Call(QString("WorkSheets(%1)").arg(index));
        return std::make_shared<FakeWorksheet>(s_, sheets_.at(index - 1));
    }
    std::shared_ptr<ExcelWorksheets> Worksheets() override {
        s_.Call("Worksheets");
        return std::make_shared<FakeWorksheets>(s_, sheets_);
    }
    void SetVisible(bool visible) override {
        s_.Call("Visible");
        s_.log.last() += visible ? "=true" : "=false";
    }

private:
    Script& s_;
    std::vector<int> sheets_;
};

// Small grids, so that whole call sequences can be compared: settings 2 columns × 2 rows, data
// 3 columns × 3 rows, with empty cells and a blank row in the data.
struct SmallGrids {
    TextGrid data1{3, 3}, settings1{2, 2}, data2{3, 3}, settings2{2, 2};
    SmallGrids() {
        for (auto [grid, tag] :
             {std::pair{&data1, "d1"}, {&settings1, "s1"}, {&data2, "d2"}, {&settings2, "s2"}})
            for (int c = 0; c < grid->ColCount(); ++c)
                grid->SetCell(c, 0, QString("%1h%2").arg(tag).arg(c));
        settings1.SetCell(0, 1, "1");
        settings1.SetCell(1, 1, "7");
        data1.SetCell(0, 2, "2");
        data1.SetCell(2, 2, "-0,5"); // row 1 blank, cell (1, 2) empty
        settings2.SetCell(0, 1, "1");
        data2.SetCell(0, 1, "1");
        data2.SetCell(1, 1, "x");
    }
    ExportSource Source(int channelCount) const {
        return SourceOf(data1, settings1, data2, settings2, channelCount, "ID", 42, "К");
    }
};

struct ExportRun {
    Script script;
    std::shared_ptr<ExcelApplication> excelApp;
    std::shared_ptr<ExcelWorksheet> excelSheet;
    QStringList errors;
    int max = -1, position = 0;

    ExcelExportOutcome Export(const ExportSource& source) {
        ExcelExportHooks hooks;
        hooks.start = [this]() -> std::shared_ptr<ExcelApplication> {
            script.log << "start";
            if (script.startFails)
                return nullptr;
            return std::make_shared<FakeApp>(script);
        };
        hooks.showError = [this](const QString& text) {
            errors << text;
            script.log << "box:" + text;
        };
        hooks.progress.setMax = [this](int m) {
            max = m;
            position = 0;
            script.log << QString("max=%1").arg(m);
        };
        hooks.progress.step = [this] {
            ++position;
            script.log << "step";
        };
        hooks.progress.processEvents = [this] { script.log << "events"; };
        hooks.progress.cancelled = [this] {
            return script.cancelAfterRows >= 0 && position >= script.cancelAfterRows;
        };
        return ExcelExport({excelApp, excelSheet}, hooks).Run(source);
    }
};

// The calls that fill one sheet of the small grids (settings from row 4, data from row 7).
QStringList SheetFill(int sheet, const TextGrid& settings, const TextGrid& data,
                      const QString& suffix) {
    QStringList calls = {QString("Cell[%1](1,1)=ID%2").arg(sheet).arg(suffix),
                         QString("Cell[%1](2,1)=Серийный номер: 42").arg(sheet),
                         QString("Cell[%1](3,1)=Место установки регулятора: К").arg(sheet)};
    for (auto [grid, first] : {std::pair{&settings, 4}, {&data, 7}})
        for (int r = 0; r < grid->RowCount(); ++r) {
            for (int c = 0; c < grid->ColCount(); ++c)
                calls << QString("Cell[%1](%2,%3)=%4")
                             .arg(sheet)
                             .arg(first + r)
                             .arg(c + 1)
                             .arg(grid->Cell(c, r));
            calls << "step"
                  << "events";
        }
    return calls;
}

const QStringList kOpen = {"start", "WorkBooks", "add", "WorkSheets(1)"};

} // namespace

TEST(ExcelExportLayout, OneChannelFillsSheetOneAndOnlyNamesSheetTwo) {
    SmallGrids g;
    for (int channels : {1, 0}) {
        ExportRun run;
        EXPECT_EQ(run.Export(g.Source(channels)), ExcelExportOutcome::Completed);
        QStringList expected =
            QStringList{"max=10"} + kOpen +
            QStringList{"Worksheets", "Item(1)", "Name[1]=Канал 1"} +
            SheetFill(1, g.settings1, g.data1, " - Канал 1") +
            QStringList{"Worksheets", "Count", "Item(2)", "Name[2]=Канал 2", "Visible=true"};
        EXPECT_EQ(run.script.log, expected) << "channel count " << channels;
        EXPECT_TRUE(run.errors.isEmpty());
        // The bar ends at half of its maximum; the members are cleared.
        EXPECT_EQ(run.position * 2, run.max);
        EXPECT_EQ(run.excelApp, nullptr);
        EXPECT_EQ(run.excelSheet, nullptr);
    }
}

TEST(ExcelExportLayout, TwoChannelsFillBothSheetsAlike) {
    SmallGrids g;
    ExportRun run;
    EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::Completed);
    QStringList expected =
        QStringList{"max=10"} + kOpen + QStringList{"Worksheets", "Item(1)", "Name[1]=Канал 1"} +
        SheetFill(1, g.settings1, g.data1, " - Канал 1") +
        QStringList{"Worksheets", "Count", "Item(2)", "Name[2]=Канал 2"} +
        SheetFill(2, g.settings2, g.data2, " - Канал 2") + QStringList{"Visible=true"};
    EXPECT_EQ(run.script.log, expected);
    EXPECT_EQ(run.position, run.max);
}

TEST(ExcelExportLayout, FullSizeGridsPutDataFromRowTenAndEndTheBarAtItsMaximum) {
    WindowGrids grids;
    FillFullArchive(grids, 2);
    ExportRun run;
    ASSERT_EQ(run.Export(grids.Source(2, "id", 1, "")), ExcelExportOutcome::Completed);
    EXPECT_EQ(run.max, 2 * (4221 + 5));
    EXPECT_EQ(run.position, run.max);
    // Settings rows 4..8, one empty row, data from row 10 with the headings first.
    EXPECT_TRUE(run.script.log.contains("Cell[1](8,16)=" + GeneratedCell(1, 'S', 15, 4)));
    EXPECT_TRUE(run.script.log.contains("Cell[1](10,1)=№"));
    EXPECT_TRUE(run.script.log.contains("Cell[2](4230,14)=" + GeneratedCell(2, 'D', 13, 4220)));
    for (const QString& entry : run.script.log)
        ASSERT_FALSE(entry.startsWith("Cell[1](9,")) << entry.toStdString();
}

TEST(ExcelExportLayout, FailingCellsShowOneBoxEachAndTheExportGoesOn) {
    SmallGrids g;
    ExportRun run;
    run.script.failingCellGets = {{5, 2}};
    run.script.failingValuePuts = {{8, 3}};
    EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::Completed);
    EXPECT_EQ(run.errors, QStringList({"Ошибка экспорта!", "Ошибка экспорта!"}));
    // Each box comes right after its cell; the next cell of the row follows.
    const QStringList& log = run.script.log;
    const qsizetype first = log.indexOf("Cell[1](5,2) get failed");
    ASSERT_GE(first, 0);
    EXPECT_EQ(log[first + 1], "box:Ошибка экспорта!");
    const qsizetype second = log.indexOf("Cell[1](8,3)=");
    ASSERT_GE(second, 0);
    EXPECT_EQ(log[second + 1], "box:Ошибка экспорта!");
    EXPECT_EQ(log[second + 2], "step");
    EXPECT_EQ(log.last(), "Visible=true");
    EXPECT_EQ(run.position, run.max);
}

// The user closes Excel during the export: one box at the first failing call, then nothing more
// is asked of the vanished application (not one box per remaining cell).
TEST(ExcelExportLayout, ApplicationGoneStopsTheExportWithOneMessage) {
    SmallGrids g;
    ExportRun run;
    run.script.failingValuePuts = {{5, 1}}; // an ordinary failure first: its own box
    run.script.goneAtValue = {8, 2};
    EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::Stopped);
    EXPECT_EQ(run.errors,
              QStringList({"Ошибка экспорта!", "Microsoft Excel больше не отвечает (возможно, он "
                                               "закрыт). Экспорт остановлен."}));
    const QStringList& log = run.script.log;
    EXPECT_EQ(log.last(), "box:" + run.errors.last());
    EXPECT_EQ(log[log.size() - 2], "Cell[1](8,2)=");
    EXPECT_EQ(run.position, 3); // the rows written before the failing one
    EXPECT_FALSE(log.contains("Visible=true"));
    EXPECT_NE(run.excelApp, nullptr); // an export that ends early leaves the members

    // Gone while a sheet is fetched or named: the same one message, no ExportError.
    for (const QString step : {"Worksheets", "Name[2]", "Visible"}) {
        ExportRun at;
        at.script.failAt = step;
        at.script.goneAtFailAt = true;
        EXPECT_EQ(at.Export(g.Source(2)), ExcelExportOutcome::Stopped) << step.toStdString();
        EXPECT_EQ(at.errors, QStringList{run.errors.last()}) << step.toStdString();
        EXPECT_TRUE(at.script.log[at.script.log.size() - 2].startsWith(step));
    }
}

TEST(ExcelExportLayout, FailingOpenShowsItsMessageAndEnds) {
    SmallGrids g;
    {
        ExportRun run;
        run.script.startFails = true;
        EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::NotOpened);
        EXPECT_EQ(run.errors, QStringList{"Невозможно открыть Microsoft Excel!Возможно Excel не "
                                          "установлен на компьютере."});
        EXPECT_EQ(run.script.log.last(), "box:" + run.errors.first());
        EXPECT_EQ(run.position, 0);
        EXPECT_EQ(run.max, 10);
        EXPECT_EQ(run.excelApp, nullptr);
    }
    for (const QString step : {"add", "WorkSheets(1)"}) {
        ExportRun run;
        run.script.failAt = step;
        EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::NotOpened);
        EXPECT_EQ(run.errors, QStringList{"Ошибка открытия книги Microsoft Excel!"});
        EXPECT_EQ(run.script.log.last(), "box:Ошибка открытия книги Microsoft Excel!");
        EXPECT_EQ(run.position, 0);
    }
}

TEST(ExcelExportLayout, SheetAndShowFailuresLeaveWithTheApplicationsText) {
    SmallGrids g;
    for (const QString step :
         {"Item(1)", "Name[1]", "Worksheets", "Item(2)", "Name[2]", "Visible"}) {
        ExportRun run;
        run.script.failAt = step;
        try {
            run.Export(g.Source(2));
            ADD_FAILURE() << "no error at " << step.toStdString();
        } catch (const ExportError& e) {
            EXPECT_EQ(e.Text(), "failed: " + step);
        }
        EXPECT_TRUE(run.errors.isEmpty());
        // Nothing after the failing call; the members stay as they were.
        EXPECT_TRUE(run.script.log.last().startsWith(step)) << step.toStdString();
        EXPECT_NE(run.excelApp, nullptr);
        if (step != "Visible") {
            EXPECT_FALSE(run.script.log.contains("Visible=true"));
        }
    }
}

TEST(ExcelExportLayout, NewWorkbookWithOneSheetGetsASecondOneForChannelTwo) {
    SmallGrids g;
    ExportRun run;
    run.script.sheetsInNewBook = 1;
    EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::Completed);
    const QStringList& log = run.script.log;
    const qsizetype at = log.indexOf("Count", 0);
    ASSERT_GE(at, 0);
    EXPECT_EQ(log.mid(at - 1, 6), QStringList({"Worksheets", "Count", "Item(1)", "AddAfter[1]",
                                               "Item(2)", "Name[2]=Канал 2"}));
    EXPECT_TRUE(log.contains("Cell[2](1,1)=ID - Канал 2"));
    EXPECT_TRUE(run.errors.isEmpty());

    // With three sheets nothing is added and the third is left alone.
    ExportRun three;
    three.script.sheetsInNewBook = 3;
    three.Export(g.Source(2));
    EXPECT_FALSE(three.script.log.filter("AddAfter").size());
    EXPECT_FALSE(three.script.log.filter("[3]").size());
}

TEST(ExcelExportLayout, CancelStopsBeforeTheNextRowAndTouchesNothingMore) {
    SmallGrids g;
    ExportRun run;
    run.script.cancelAfterRows = 3; // both settings rows and the first data row of sheet 1
    EXPECT_EQ(run.Export(g.Source(2)), ExcelExportOutcome::Cancelled);
    QStringList expected = QStringList{"max=10"} + kOpen +
                           QStringList{"Worksheets", "Item(1)", "Name[1]=Канал 1"} +
                           SheetFill(1, g.settings1, g.data1, " - Канал 1").mid(0, 3 + 2 * 4 + 5);
    EXPECT_EQ(run.script.log, expected);
    EXPECT_EQ(run.position, 3);
}
