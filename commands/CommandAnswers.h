#pragma once

// The command-line modes that need no window, in one place for the program's start-up: the port
// doctor's table, the library's answers, the findings, the visit report and the download. Each
// mode stands alone (the parser refuses two at once) and prints only the program's own lines:
// Qt's own messages are kept off standard error while it runs.

#include "CommandLine.h"

#include <optional>

// Answers line when it asks for such a mode and returns the exit code; nullopt when the line
// asks for none (the window, or an answer the parser already holds: help, version, usage).
std::optional<int> AnswerWithoutWindow(const CommandLine& line, int& argc, char** argv);
