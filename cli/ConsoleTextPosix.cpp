#include "ConsoleText.h"

#include <unistd.h>

void WriteConsoleText(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

bool IsConsoleTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}
