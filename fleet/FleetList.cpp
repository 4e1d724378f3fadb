#include "FleetList.h"

#include "NetworkPort.h"
#include "PortMap.h"

#include <QFile>

namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 127;
const QStringList kHeader{QStringLiteral("port"), QStringLiteral("address"),
                          QStringLiteral("name")};

// A line as the user sees it in a message: control characters shown as spaces, cut at 80.
QString Shown(const QString& line) {
    QString shown;
    for (const QChar c : line)
        shown += c.isPrint() ? c : QChar(u' ');
    return shown.size() > 80 ? shown.left(80) + QStringLiteral("…") : shown;
}

// Why port is no port a collection can read; empty when it is one.
QString PortProblem(const QString& port) {
    if (PortNumber(port) > 0)
        return {};
    if (NamesNetworkPort(port)) {
        const NetworkPortParse parsed = ParseNetworkPort(port);
        return parsed.ok ? QString() : parsed.cause;
    }
    return QStringLiteral("порт «%1»: ожидается COMn, tcp://HOST:PORT или rfc2217://HOST:PORT")
        .arg(Shown(port));
}

} // namespace

FleetList ParseFleetList(const QByteArray& text) {
    FleetList list;
    QString whole = QString::fromUtf8(text);
    if (whole.startsWith(QChar(0xFEFF)))
        whole.remove(0, 1); // a byte-order mark some editors write
    const QStringList lines = whole.split(u'\n');
    QString header = lines.value(0);
    if (header.endsWith(u'\r'))
        header.chop(1);
    if (header.split(u'\t') != kHeader) {
        list.refusal =
            QStringLiteral("список регуляторов не принят: строка 1 «%1»: ожидается заголовок "
                           "port, address, name через табуляцию")
                .arg(Shown(header));
        return list;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const int number = static_cast<int>(i + 1);
        const QStringList fields = line.split(u'\t');
        auto skip = [&](const QString& cause) {
            list.skipped << QStringLiteral("строка %1: %2").arg(number).arg(cause);
        };
        if (fields.size() != 3) {
            skip(QStringLiteral("ожидается три поля через табуляцию, а не «%1»").arg(Shown(line)));
            continue;
        }
        FleetEntry entry;
        entry.line = number;
        entry.port = fields[0].trimmed();
        entry.name = fields[2].trimmed();
        if (const QString problem = PortProblem(entry.port); !problem.isEmpty()) {
            skip(problem);
            continue;
        }
        bool ok = false;
        entry.address = fields[1].trimmed().toInt(&ok);
        if (!ok || entry.address < kFirstAddress || entry.address > kLastAddress) {
            skip(QStringLiteral("адрес «%1»: ожидается число от %2 до %3")
                     .arg(Shown(fields[1]))
                     .arg(kFirstAddress)
                     .arg(kLastAddress));
            continue;
        }
        list.entries.push_back(std::move(entry));
    }
    return list;
}

FleetList ReadFleetList(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        FleetList list;
        list.refusal =
            QStringLiteral("список регуляторов не читается: %1: %2").arg(path, file.errorString());
        return list;
    }
    return ParseFleetList(file.readAll());
}

QByteArray FormatFleetList(const std::vector<FleetEntry>& entries) {
    QString text = kHeader.join(u'\t') + u'\n';
    for (const FleetEntry& e : entries) {
        QString name = e.name;
        name.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' ');
        text += QStringLiteral("%1\t%2\t%3\n").arg(e.port).arg(e.address).arg(name);
    }
    return text.toUtf8();
}
