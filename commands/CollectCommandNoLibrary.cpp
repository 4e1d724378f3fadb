#include "CollectCommand.h"

#include "ConsoleText.h"

#include <cstdio>

// A collection keeps every controller in the library; without it there is none.
int AnswerCollectCommand(const CommandLine&, int&, char**) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: сбор регуляторов в этой сборке недоступен: "
                                            "в ней нет библиотеки архивов\n"));
    return 1;
}
