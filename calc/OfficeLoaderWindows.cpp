// The office on Windows: reached through its automation bridge, the service manager's
// automation object ("com.sun.star.ServiceManager"), by late-bound calls. Nothing of the office
// is needed to build or start the program; the bridge is looked up only when an export connects.

#include "OOCalcAuto.h"

#include "AutomationWindows.h"

namespace {

// The office's failures reach the export as ExportError with the automation's text.
template <typename F> auto Guarded(F call) {
    return Rethrown<ExportError>(call);
}

class BridgeCalc final : public CalcAutomation {
public:
    bool Connect(const CalcWaitStep&) override {
        try {
            ServiceManager = AutoObject::Create(QStringLiteral("com.sun.star.ServiceManager"));
        } catch (const AutomationError&) {
            return false; // not installed, not registered, cannot start
        }
        Desktop = Guarded([&] {
            return ServiceManager.Get(QStringLiteral("createInstance"),
                                      {QStringLiteral("com.sun.star.frame.Desktop")});
        });
        return true;
    }

    void NewDocument() override {
        Guarded([&] {
            const AutoVariant document =
                Desktop.Call(QStringLiteral("LoadComponentFromURL"),
                             {QStringLiteral("private:factory/scalc"), QStringLiteral("_blank"),
                              std::int32_t{0}, AutoVariant::EmptyArray()});
            Document = AutoObject(document.Dispatch());
            if (Document) // no document: nothing more is fetched, the next sheet call fails
                Sheets = Document.Get(QStringLiteral("getSheets"));
            return 0;
        });
    }

    void SelectSheet(const QString& name, quint16 position) override {
        if (!HasSheet(name))
            Guarded([&] {
                return Sheets.Call(QStringLiteral("insertNewByName"),
                                   {name, std::uint16_t{position}});
            });
        ActivateSheet(name);
    }

    bool HasSheet(const QString& name) override {
        return Guarded([&] { return Sheets.Call(QStringLiteral("hasByName"), {name}); }).ToBool();
    }

    void ActivateSheet(const QString& name) override {
        Guarded([&] {
            Sheets = Document.Get(QStringLiteral("getSheets"));
            Sheet = Sheets.Get(QStringLiteral("getByName"), {name});
            AutoObject controller = Document.Get(QStringLiteral("getCurrentController"));
            controller.Call(QStringLiteral("setActiveSheet"), {AutoVariant(Sheet.Raw())});
            return 0;
        });
    }

    void SetCellText(quint32 column, quint32 row, const QString& text) override {
        Guarded([&] {
            Cell = Sheet.Get(QStringLiteral("getCellByPosition"),
                             {std::uint32_t{column}, std::uint32_t{row}});
            return Cell.Call(QStringLiteral("setString"), {text});
        });
    }

    void ReleaseAll() override {
        Cell = {};
        Sheet = {};
        Sheets = {};
        Document = {};
        Desktop = {};
        ServiceManager = {};
    }

private:
    AutoObject ServiceManager, Desktop, Document, Sheets, Sheet, Cell;
};

} // namespace

void SetCalcModulePath(const QString&) {}

QString CalcModulePath() {
    return {}; // no module: the bridge is the system's
}

QString CalcModuleLoadError() {
    return {}; // nothing to load; whether the office is there shows when an export starts
}

std::unique_ptr<CalcAutomation> NewOfficeAutomation() {
    return std::make_unique<BridgeCalc>();
}
