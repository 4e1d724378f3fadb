#include "FakeCalcModule.h"

#include "CalcModule.h"

namespace {

FakeCalcScript& Script() {
    static FakeCalcScript script;
    return script;
}

class FakeCalc final : public CalcAutomation {
public:
    bool Connect(const CalcWaitStep& waitStep) override {
        Script().calls << QStringLiteral("Connect");
        for (int i = 0; i < Script().waitSteps; ++i)
            if (waitStep && !waitStep())
                return false;
        return Script().connects;
    }
    void NewDocument() override { Script().calls << QStringLiteral("NewDocument"); }
    void SelectSheet(const QString& name, quint16) override {
        Script().calls << QStringLiteral("SelectSheet ") + name;
    }
    bool HasSheet(const QString&) override { return false; }
    void ActivateSheet(const QString&) override {}
    void SetCellText(quint32 column, quint32 row, const QString&) override {
        FakeCalcScript& script = Script();
        const int cell = script.cells++;
        if (script.onCell)
            script.onCell(cell);
        if (cell == script.failAtCell)
            throw ExportError(script.failText);
        script.calls << QStringLiteral("Cell %1,%2").arg(column).arg(row);
    }
    void ReleaseAll() override { Script().calls << QStringLiteral("ReleaseAll"); }
};

} // namespace

extern "C" __attribute__((visibility("default"))) CalcAutomation* kv9000calc_create() {
    return new FakeCalc;
}

extern "C" __attribute__((visibility("default"))) FakeCalcScript* kv9000calc_fake_script() {
    return &Script();
}
