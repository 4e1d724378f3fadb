#include "FleetList.h"

#include "NetworkPort.h"
#include "PortMap.h"
#include "RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

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
    QByteArrayView bytes(text);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3); // a byte-order mark some editors write
    // Line by line, so that a line that is not UTF-8 is named: a newline byte is never part of a
    // longer UTF-8 character.
    QStringList lines;
    for (const QByteArrayView raw : bytes.toByteArray().split('\n')) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = utf8.decode(raw);
        if (utf8.hasError()) {
            list.refusal = QStringLiteral("список регуляторов не принят: строка %1 «%2»: текст не "
                                          "в кодировке UTF-8; сохраните список в UTF-8")
                               .arg(lines.size() + 1)
                               .arg(Shown(line));
            return list;
        }
        lines << std::move(line);
    }
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
    FleetList list;
    auto refuse = [&](const QString& cause, bool notAListFile) {
        list.refusal = QStringLiteral("список регуляторов %1 не принят: %2")
                           .arg(QDir::toNativeSeparators(path), cause);
        list.notAListFile = notAListFile;
        return list;
    };
    // A device or a named pipe would fill the memory or block for ever: only a regular file is
    // opened, and the check is made again on what was opened.
    const QString notRegular = QStringLiteral("это не обычный файл (папка, устройство или канал)");
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return refuse(notRegular, true);
    const QString tooLarge =
        QStringLiteral("файл больше %1 байт — это не список регуляторов").arg(FleetListSizeLimit);
    if (info.size() > FleetListSizeLimit)
        return refuse(tooLarge, true);
    QFile file;
    if (const QString error = OpenRegularFile(path, file, notRegular); !error.isEmpty())
        return refuse(error, error == notRegular);
    // One byte more than the limit: a file that grew since it was looked at is still refused.
    const QByteArray text = file.read(FleetListSizeLimit + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(QStringLiteral("файл не читается: %1").arg(file.errorString()), false);
    if (text.size() > FleetListSizeLimit)
        return refuse(tooLarge, true);
    return ParseFleetList(text);
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
