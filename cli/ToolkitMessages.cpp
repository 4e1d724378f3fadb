#include "ToolkitMessages.h"

#include "ConsoleText.h"
#include "OneLinePath.h"

#include <QtGlobal>

#include <cstdio>

namespace {

void Handle(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg)
        WriteConsoleText(
            stderr, QStringLiteral("kv9000: внутренняя ошибка: %1\n").arg(OneLinePath(message)));
}

} // namespace

void KeepToolkitMessagesOffConsole() {
    qInstallMessageHandler(Handle);
}
