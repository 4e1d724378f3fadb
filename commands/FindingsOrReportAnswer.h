#pragma once

// kv9000 --findings FILE and kv9000 --report FILE -o REPORT.pdf, answered without a display and
// without the window. A build without the charts (KV_CHARTS off) has neither and says so.

#include "CommandLine.h"

// Prints the answer to the console and returns the exit code.
int AnswerFindingsOrReport(const CommandLine& line, int& argc, char** argv);
