// The office on Windows: reached through its automation bridge, the service manager's
// automation object ("com.sun.star.ServiceManager"), by late-bound calls. Nothing of the office
// is needed to build or start the program; the bridge is looked up only when an export connects.

#include "OOCalcAuto.h"

#include "AutomationWindows.h"

// The office's failures reach the export as ExportError with the automation's text.

namespace {

class BridgeCalc final : public CalcAutomation {
public:
    bool Connect(const CalcWaitStep& waitStep) override {
        // The office may take long to start (behind its recovery dialog, perhaps): it is waited
        // for on a thread of its own while waitStep keeps the window alive; giving up is quiet.
        try {
            ServiceManager =
                AutoObject::CreateWaiting(QStringLiteral("com.sun.star.ServiceManager"), waitStep);
        } catch (const ExportError&) {
            return false; // not installed, not registered, cannot start
        }
        if (!ServiceManager)
            return false; // the wait was given up
        Desktop = ServiceManager.Get(QStringLiteral("createInstance"),
                                     {QStringLiteral("com.sun.star.frame.Desktop")});
        return true;
    }

    void NewDocument() override {
        const AutoVariant document =
            Desktop.Call(QStringLiteral("LoadComponentFromURL"),
                         {QStringLiteral("private:factory/scalc"), QStringLiteral("_blank"),
                          std::int32_t{0}, AutoVariant::EmptyArray()});
        Document = AutoObject(document.Dispatch());
        if (Document) // no document: nothing more is fetched, the next sheet call fails
            Sheets = Document.Get(QStringLiteral("getSheets"));
    }

    void SelectSheet(const QString& name, quint16 position) override {
        if (!HasSheet(name))
            Sheets.Call(QStringLiteral("insertNewByName"), {name, std::uint16_t{position}});
        ActivateSheet(name);
    }

    bool HasSheet(const QString& name) override {
        return Sheets.Call(QStringLiteral("hasByName"), {name}).ToBool();
    }

    void ActivateSheet(const QString& name) override {
        Sheets = Document.Get(QStringLiteral("getSheets"));
        Sheet = Sheets.Get(QStringLiteral("getByName"), {name});
        AutoObject controller = Document.Get(QStringLiteral("getCurrentController"));
        controller.Call(QStringLiteral("setActiveSheet"), {AutoVariant(Sheet.Raw())});
    }

    void SetCellText(quint32 column, quint32 row, const QString& text) override {
        Cell = Sheet.Get(QStringLiteral("getCellByPosition"),
                         {std::uint32_t{column}, std::uint32_t{row}});
        Cell.Call(QStringLiteral("setString"), {text});
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
