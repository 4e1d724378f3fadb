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
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.errorString();
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    if (file.write(bytes) != bytes.size())
        return file.errorString();
    return SyncToDisk(file);
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
