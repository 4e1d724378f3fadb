#include "SystemExcel.h"

#include "AutomationWindows.h"

#include <utility>

// Each class holds one automation reference and maps the members ExcelAutomation.h lists onto
// Excel's, spelled as Excel spells them; a failure leaves as ExportError with Excel's text.

namespace {

class OleRange final : public ExcelRange {
public:
    explicit OleRange(AutoObject o) : o_(std::move(o)) {}
    void SetValue(const QString& text) override { o_.Put(QStringLiteral("Value"), text); }

private:
    AutoObject o_;
};

class OleWorksheet final : public ExcelWorksheet {
public:
    explicit OleWorksheet(AutoObject o) : o_(std::move(o)) {}
    void SetName(const QString& name) override { o_.Put(QStringLiteral("Name"), name); }
    std::shared_ptr<ExcelRange> Cells(int row, int column) override {
        return std::make_shared<OleRange>(
            o_.Get(QStringLiteral("Cells"), {std::int32_t{row}, std::int32_t{column}}));
    }
    const AutoObject& Object() const { return o_; }

private:
    AutoObject o_;
};

class OleWorksheets final : public ExcelWorksheets {
public:
    explicit OleWorksheets(AutoObject o) : o_(std::move(o)) {}
    int Count() override {
        return o_.Invoke(QStringLiteral("Count"), DISPATCH_PROPERTYGET, {}).ToInt();
    }
    std::shared_ptr<ExcelWorksheet> Item(int index) override {
        return std::make_shared<OleWorksheet>(
            o_.Get(QStringLiteral("Item"), {std::int32_t{index}}));
    }
    std::shared_ptr<ExcelWorksheet>
    AddAfter(const std::shared_ptr<ExcelWorksheet>& after) override {
        const auto* sheet = dynamic_cast<const OleWorksheet*>(after.get());
        if (!sheet)
            throw ExportError(QStringLiteral("no worksheet"));
        // Add(Before, After): Before left out.
        return std::make_shared<OleWorksheet>(o_.Get(
            QStringLiteral("Add"), {AutoVariant::Missing(), AutoVariant(sheet->Object().Raw())}));
    }

private:
    AutoObject o_;
};

class OleWorkbooks final : public ExcelWorkbooks {
public:
    explicit OleWorkbooks(AutoObject o) : o_(std::move(o)) {}
    void Add() override { o_.Call(QStringLiteral("add")); }

private:
    AutoObject o_;
};

class OleExcel final : public ExcelApplication {
public:
    explicit OleExcel(AutoObject o) : o_(std::move(o)) {}
    std::shared_ptr<ExcelWorkbooks> WorkBooks() override {
        return std::make_shared<OleWorkbooks>(o_.Get(QStringLiteral("WorkBooks")));
    }
    std::shared_ptr<ExcelWorksheet> WorkSheets(int index) override {
        return std::make_shared<OleWorksheet>(
            o_.Get(QStringLiteral("WorkSheets"), {std::int32_t{index}}));
    }
    std::shared_ptr<ExcelWorksheets> Worksheets() override {
        return std::make_shared<OleWorksheets>(o_.Get(QStringLiteral("Worksheets")));
    }
    void SetVisible(bool visible) override { o_.Put(QStringLiteral("Visible"), visible); }

private:
    AutoObject o_;
};

} // namespace

bool SystemMayHaveExcel() {
    return true;
}

std::shared_ptr<ExcelApplication> StartSystemExcel() {
    const QString id = QStringLiteral("Excel.Application");
    AutoObject excel = AutoObject::Attach(id); // failing on its own is no failure
    if (!excel) {
        try {
            excel = AutoObject::Create(id);
        } catch (const ExportError&) {
            return nullptr;
        }
    }
    return std::make_shared<OleExcel>(std::move(excel));
}
