#include "TestQtApp.h"

#include <QCoreApplication>

void EnsureQtCoreApp() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "kv9000-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}
