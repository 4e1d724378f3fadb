#include "ImageCommand.h"

#include "ArchiveFile.h"
#include "ArchiveOverwrite.h"
#include "ConsoleText.h"
#include "OneLinePath.h"
#include "UserFolders.h"

#include <QDir>
#include <QSaveFile>

#include <cstdio>

namespace {

int Fail(const QString& path, const QString& cause) {
    WriteConsoleText(
        stderr,
        QStringLiteral("kv9000: %1: %2\n").arg(OneLinePath(QDir::toNativeSeparators(path)), cause));
    return 1;
}

} // namespace

int AnswerImageCommand(const CommandLine& line) {
    const ArchiveFileReadResult read = ReadArchiveFile(line.imagePath);
    if (!read.contents)
        return Fail(line.imagePath, read.error);
    const QString refusal = ArchiveOverwriteRefusal(line.imageOutput, line.imagePath,
                                                    ArchivesFolder(), ArchiveOutput::Image);
    if (!refusal.isEmpty())
        return Fail(line.imageOutput, refusal);
    QSaveFile out(line.imageOutput);
    if (!out.open(QIODevice::WriteOnly))
        return Fail(line.imageOutput, out.errorString());
    const QByteArray& image = read.contents->image;
    // flush() before commit(): a commit whose own flush fails (a full disk) still replaces the
    // target, with an empty file.
    if (out.write(image) != image.size() || !out.flush() || !out.commit())
        return Fail(line.imageOutput, out.errorString());
    return 0;
}
