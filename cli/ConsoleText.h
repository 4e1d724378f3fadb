#pragma once

// Text for the terminal the program was started from (--help, --version, --diagnose, errors of
// the command line), in the terminal's encoding.

#include <QString>

#include <cstdio>

// Writes text to stream (stdout or stderr) and flushes it. On Windows a program with a window
// has no console of its own: the text goes to the console of the command prompt that started
// it, or, when redirected, into the file or pipe in the system's code page; as UTF-8 when the
// console launcher kv9000.com started it (KV9000_OUTPUT_UTF8=1 in the environment).
void WriteConsoleText(std::FILE* stream, const QString& text);

// True when stream (stdout or stderr) is a terminal a user watches, so that a progress line
// rewritten in place makes sense there; false for a file or a pipe, and always on Windows, where
// the console launcher relays the program's output through pipes.
bool IsConsoleTerminal(std::FILE* stream);
