#pragma once

// The module that drives the office: a shared library beside the executable, loaded when the
// first Calc export starts. It is built only where the office's SDK is installed, so the
// program must cope with its absence.

#include "CalcAutomation.h"

// Base name of the module file (libkv9000calc.so).
inline constexpr char CalcModuleBaseName[] = "kv9000calc";

// Its one entry point: a new automation object with six empty references, owned by the caller
// (delete it). Never null.
inline constexpr char CalcModuleEntryName[] = "kv9000calc_create";
using CalcModuleEntry = CalcAutomation* (*)();
