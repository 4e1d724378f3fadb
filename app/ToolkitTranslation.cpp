#include "ToolkitTranslation.h"

#include <QCoreApplication>
#include <QString>
#include <QTranslator>

namespace {

// Where the build puts the catalogue among the program's resources (ToolkitTranslation.cmake).
const QString kCatalogue = QStringLiteral(":/kv9000/translations/qtbase_ru.qm");
// The installed translator's name, by which a second call finds it.
const QString kTranslatorName = QStringLiteral("kv9000-toolkit-ru");

} // namespace

bool InstallToolkitTranslation() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (app->findChild<QTranslator*>(kTranslatorName, Qt::FindDirectChildrenOnly))
        return true;
    // A child of the application object: it goes when the texts it translates can no longer be
    // asked for.
    auto* translator = new QTranslator(app);
    translator->setObjectName(kTranslatorName);
    if (!translator->load(kCatalogue) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
