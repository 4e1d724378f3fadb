#include "ConsoleText.h"

void WriteConsoleText(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
