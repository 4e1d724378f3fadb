#pragma once

// A stand-in for the office module, built as a module of its own and loaded through the same
// path as the real one, for window tests that need an office that answers or fails on cue.
// The test reaches its script through the second entry point.

#include <QStringList>

#include <functional>

struct FakeCalcScript {
    bool connects = true;
    int waitSteps = 0;   // Connect calls its wait step this often first, as a starting office does
    int failAtCell = -1; // the SetCellText call (counted from 0 over all objects) that throws
    QString failText;
    std::function<void(int cell)> onCell; // called before each SetCellText
    int cells = 0;
    QStringList calls; // "Connect", "NewDocument", "SelectSheet name", "Cell c,r", "ReleaseAll"
};

inline constexpr char FakeCalcModuleBaseName[] = "kv9000calc_fake";
inline constexpr char FakeCalcScriptEntryName[] = "kv9000calc_fake_script";
using FakeCalcScriptEntry = FakeCalcScript* (*)();
