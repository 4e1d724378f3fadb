#include "IdentityJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "FileSync.h"

#include <algorithm>

namespace {

QString Escaped(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\') + c;
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString Identity(const char* label, const JournalIdentity& id) {
    const QString unknown = QStringLiteral("?");
    return QStringLiteral("%1 serial=%2 address=%3 comment=%4")
        .arg(QString::fromLatin1(label), id.serial ? QString::number(*id.serial) : unknown,
             id.address ? QString::number(*id.address) : unknown,
             id.comment ? QLatin1Char('"') + Escaped(*id.comment) + QLatin1Char('"') : unknown);
}

} // namespace

QString FormatJournalLine(const IdentityJournalEntry& e) {
    const QStringList fields = {
        e.when.toOffsetFromUtc(e.when.offsetFromUtc()).toString(Qt::ISODate),
        QStringLiteral("user=") + e.user,
        QStringLiteral("port=") + (e.port.isEmpty() ? QStringLiteral("?") : e.port),
        Identity("before", e.before),
        Identity("after", e.after),
        QStringLiteral("address=") + e.addressStep,
        QStringLiteral("serial=") + e.serialStep,
        QStringLiteral("comment=") + e.commentStep,
    };
    return fields.join(QLatin1Char('\t'));
}

QString AppendJournalLine(const QString& path, const QString& line) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("не удалось создать папку %1").arg(folder);
    QFile file(path);
    // Unbuffered: the line goes to the system in one write, not in pieces of Qt's buffer.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    const qint64 before = file.size();
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    QString error;
    if (file.write(bytes) != bytes.size())
        error = file.errorString();
    else
        error = SyncToDisk(file);
    // A line is there whole or not at all: a part written before the disk filled is cut off
    // again, so that the next line does not start in the middle of this one.
    if (!error.isEmpty())
        file.resize(before);
    return error;
}

QString ReadJournalNewestFirst(const QString& path, QString* error) {
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    QStringList lines =
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::reverse(lines.begin(), lines.end());
    return lines.join(QLatin1Char('\n'));
}

QString JournalStepText(IdentityStep step, const QByteArray& error) {
    switch (step) {
    case IdentityStep::Written:
        return QStringLiteral("written");
    case IdentityStep::Skipped:
        return QStringLiteral("skipped");
    case IdentityStep::Failed:
        return QString::fromLatin1(error);
    case IdentityStep::NotTried:
        break;
    }
    return QStringLiteral("not tried");
}
