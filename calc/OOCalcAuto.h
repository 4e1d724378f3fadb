#pragma once

// OOCalcAuto: the Calc automation object the export creates, one per export. It loads the
// office module (CalcModule.h) the first time an object connects and hands every operation to
// the module's object. Where the module is missing or does not load (the office is not
// installed), Connect returns false and nothing else happens.

#include "CalcAutomation.h"

#include <memory>

class OOCalcAuto final : public CalcAutomation {
public:
    OOCalcAuto();
    ~OOCalcAuto() override; // ReleaseAll
    OOCalcAuto(const OOCalcAuto&) = delete;
    OOCalcAuto& operator=(const OOCalcAuto&) = delete;

    bool Connect(const CalcWaitStep& waitStep = {}) override;
    // The operations below throw ExportError when called without a successful Connect.
    void NewDocument() override;
    void SelectSheet(const QString& name, quint16 position) override;
    bool HasSheet(const QString& name) override;
    void ActivateSheet(const QString& name) override;
    void SetCellText(quint32 column, quint32 row, const QString& text) override;
    void ReleaseAll() override;

private:
    CalcAutomation& Office();

    std::unique_ptr<CalcAutomation> office_; // the module's object; null until Connect
};

// The module file OOCalcAuto loads unless set here (tests point it at a missing or broken file):
// libkv9000calc.so in the package's library folder (KV_CALC_MODULE_DIR from the executable's
// folder, ../lib/x86_64-linux-gnu/kv9000 in the package) for an installed build; for the
// portable build the one beside the executable, or the one in that library folder when there is
// none beside it (after cmake --install). A module, once loaded, stays loaded.
void SetCalcModulePath(const QString& path);
QString CalcModulePath();

// Loads the module at CalcModulePath() without reaching the office, as the first Connect would.
// Returns the loader's error, or an empty text when the module and its entry point are there.
QString CalcModuleLoadError();

// A new object that reaches the office: the loaded module's (OfficeLoader.cpp) or, on Windows,
// the office's automation bridge (OfficeLoaderWindows.cpp); null when there is none.
std::unique_ptr<CalcAutomation> NewOfficeAutomation();
