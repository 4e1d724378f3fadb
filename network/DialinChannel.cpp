#include "DialinChannel.h"

#include <QDir>

#include <algorithm>

QString DialinChannelName() {
#ifdef Q_OS_WIN
    return QStringLiteral("kv9000-dialin-") + qEnvironmentVariable("USERNAME");
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return runtime + QStringLiteral("/kv9000-dialin");
    return QDir::tempPath() + QStringLiteral("/kv9000-") + qEnvironmentVariable("USER") +
           QStringLiteral("-dialin");
#endif
}

QByteArray DialinRequest(const QString& id) {
    return "CALL " + id.toLatin1() + '\n';
}

std::optional<QString> ParseDialinRequest(const QByteArray& line) {
    if (!line.startsWith("CALL ") || line.size() > MaxDialinLine)
        return std::nullopt;
    const QByteArray id = line.mid(5);
    const bool printable = !id.isEmpty() && std::all_of(id.begin(), id.end(), [](char c) {
        return c > 0x20 && c < 0x7F;
    });
    if (!printable)
        return std::nullopt;
    return QString::fromLatin1(id);
}

QByteArray FormatDialinAnswer(const DialinAnswer& answer) {
    switch (answer.kind) {
    case DialinAnswerKind::Ok:
        return "OK " + answer.peer.toLatin1() + ' ' + QByteArray::number(answer.roundTripMs) + '\n';
    case DialinAnswerKind::Away:
        return "AWAY " +
               (answer.lastCall.isValid() ? answer.lastCall.toUTC().toString(Qt::ISODate).toLatin1()
                                          : QByteArray("-")) +
               '\n';
    case DialinAnswerKind::Busy:
        return "BUSY\n";
    case DialinAnswerKind::Unknown:
        break;
    }
    return "UNKNOWN\n";
}

std::optional<DialinAnswer> ParseDialinAnswer(const QByteArray& line) {
    const QList<QByteArray> words = line.trimmed().split(' ');
    DialinAnswer answer;
    if (words.size() == 3 && words[0] == "OK") {
        bool ok = false;
        answer.kind = DialinAnswerKind::Ok;
        answer.peer = QString::fromLatin1(words[1]);
        answer.roundTripMs = words[2].toInt(&ok);
        return ok && answer.roundTripMs >= 0 ? std::optional(answer) : std::nullopt;
    }
    if (words.size() == 2 && words[0] == "AWAY") {
        answer.kind = DialinAnswerKind::Away;
        if (words[1] != "-") {
            answer.lastCall = QDateTime::fromString(QString::fromLatin1(words[1]), Qt::ISODate);
            if (!answer.lastCall.isValid())
                return std::nullopt;
        }
        return answer;
    }
    if (words.size() == 1 && words[0] == "BUSY") {
        answer.kind = DialinAnswerKind::Busy;
        return answer;
    }
    if (words.size() == 1 && words[0] == "UNKNOWN")
        return answer;
    return std::nullopt;
}
