#pragma once

// The command-line modes that need no window, in one place for the program's start-up: the port
// doctor's table, the library's answers, the findings, the visit report, the image, the download,
// the collection and the fleet list on the team's server. Each mode stands alone (the parser
// refuses two at once) and prints only the program's own lines: Qt's own messages are kept off
// standard error while it runs.
//
// How the modes (commands/) report a failure: in the exit code and on standard error, never in a
// window. A mode prints the cause its parts return in their results as a line "kv9000: <cause>"
// in Russian and ends with exit code 1 (2 is the parser's usage error); standard output carries
// the answer alone. The download and the collection also catch an exception at their own edge
// (AnswerReadCommand, AnswerCollectCommand) and print its text the same way.

#include "CommandLine.h"

#include <optional>

// Answers line when it asks for such a mode and returns the exit code; nullopt when the line
// asks for none (the window, or an answer the parser already holds: help, version, usage).
std::optional<int> AnswerWithoutWindow(const CommandLine& line, int& argc, char** argv);
