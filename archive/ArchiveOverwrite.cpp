#include "ArchiveOverwrite.h"

#include "OneLinePath.h"

#include <QDir>
#include <QFileInfo>

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// From UTF-8, which is what file names are on POSIX systems and what the library converts
// to wide characters on Windows: never through the C locale, which may be plain ASCII.
std::filesystem::path FsPath(const QString& path) {
    const QByteArray utf8 = QDir::toNativeSeparators(path).toUtf8();
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.constData()),
                                               static_cast<std::size_t>(utf8.size())));
}

// The path with every folder that exists resolved (symbolic links, "..", another spelling of
// the same folder), and the rest of it as given: a file that does not exist yet still lands
// where its existing parent really is.
QString Resolved(const QString& path) {
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QStringList rest;
    while (!info.exists() && !info.isSymLink()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break; // the root itself does not exist
        rest.prepend(info.fileName());
        info = QFileInfo(parent);
    }
    QString base = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    for (const QString& part : rest)
        base = QDir(base).filePath(part);
    return QDir::cleanPath(base);
}

// Both paths resolved: the system's own spelling of every folder that exists.
bool Inside(const QString& path, const QString& folder) {
    return path.startsWith(folder + u'/');
}

} // namespace

QString ArchiveOverwriteRefusal(const QString& output, const QString& source,
                                const QString& archivesFolder, ArchiveOutput kind) {
    const bool report = kind == ArchiveOutput::Report;
    if (!source.isEmpty()) {
        // The same file by any name: the system compares device and file number, so a hard
        // link and a symbolic link are caught as well as another spelling of the path.
        std::error_code error;
        if ((std::filesystem::equivalent(FsPath(output), FsPath(source), error) && !error) ||
            Resolved(output) == Resolved(source))
            return (report ? QStringLiteral("файл отчёта — это сам архив %1: архив был бы "
                                            "заменён отчётом")
                           : QStringLiteral("файл образа — это сам архив %1: архив был бы "
                                            "заменён своим образом"))
                .arg(OneLinePath(QDir::toNativeSeparators(source)));
    }
    if (!archivesFolder.isEmpty() &&
        QFileInfo(output).suffix().compare(QStringLiteral("kvarc"), Qt::CaseInsensitive) == 0 &&
        Inside(Resolved(output), Resolved(archivesFolder)))
        return (report ? QStringLiteral("файл .kvarc в папке архивов %1 не заменяется отчётом")
                       : QStringLiteral("файл .kvarc в папке архивов %1 не заменяется образом"))
            .arg(OneLinePath(QDir::toNativeSeparators(archivesFolder)));
    return {};
}
