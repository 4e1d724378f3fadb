#include "CoreModeRun.h"

#include "Cp1251.h"

#include <QCoreApplication>

#include <exception>
#include <optional>

int RunCoreMode(int& argc, char** argv, const std::function<int()>& mode,
                const std::function<int(const QString&)>& fail) {
    QCoreApplication core(argc, argv);
    // Every text of the controller is Windows-1251.
    if (const std::optional<QString> missing = Cp1251Unavailable())
        return fail(*missing);
    try {
        return mode();
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}
