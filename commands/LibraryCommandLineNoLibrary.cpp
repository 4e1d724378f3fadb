#include "LibraryCommandLine.h"

#include "ConsoleText.h"

#include <cstdio>

int AnswerLibraryCommand(const CommandLine&) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: библиотека архивов в этой сборке для "
                                            "Windows недоступна\n"));
    return 1;
}

// Without the library a kept download is only the file.
void IndexKeptDownload(const QString&, const QString&) {}
