#include "ListenCommand.h"

#include "ConsoleText.h"

#include <cstdio>

// Modems are collected on their call into the library; without it there is none.
int AnswerListenCommand(const CommandLine&, int&, char**) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: приём звонков модемов в этой сборке "
                                            "недоступен: в ней нет библиотеки архивов\n"));
    return 1;
}
