#include "OfficeLocation.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>

void PointBootstrapAtOffice() {
    if (std::getenv("UNO_PATH") != nullptr)
        return;
    if (!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        return;
    const QString builtAgainst = QStringLiteral(KV_OFFICE_PROGRAM_DIR);
    if (QFileInfo(builtAgainst + QStringLiteral("/soffice")).isExecutable())
        setenv("UNO_PATH", KV_OFFICE_PROGRAM_DIR, 0);
}
