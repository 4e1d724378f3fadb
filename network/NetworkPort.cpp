#include "NetworkPort.h"

#include "OneLinePath.h"

#include <QHostAddress>

#include <algorithm>

namespace {

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool IsLetterOrDigit(QChar c) {
    return IsDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A host name: labels of letters, digits and inner hyphens (1 to 63 each), at most 253 in all.
bool IsHostName(QStringView host) {
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (const QStringView label : host.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        if (!std::all_of(label.begin(), label.end(),
                         [](QChar c) { return IsLetterOrDigit(c) || c == u'-'; }))
            return false;
    }
    return true;
}

NetworkPortParse Refused(const QString& cause) {
    NetworkPortParse parse;
    parse.cause = cause;
    return parse;
}

// A registration as the settings and lists write it: printable ASCII without blanks, at most
// twice MaxRegistrationBytes characters (a hex registration's digits).
NetworkPortParse ParseDialinPort(QStringView text) {
    const QStringView id = text.mid(7);
    if (id.isEmpty())
        return Refused(QStringLiteral("нет имени модема после dialin:"));
    const bool printable = std::all_of(
        id.begin(), id.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
    if (!printable || id.size() > 2 * MaxRegistrationBytes)
        return Refused(QStringLiteral("«%1» не имя модема (латинские буквы, цифры и знаки без "
                                      "пробелов, не длиннее %2)")
                           .arg(ShownName(id))
                           .arg(2 * MaxRegistrationBytes));
    NetworkPortParse parse;
    parse.ok = true;
    parse.port.protocol = NetworkProtocol::Dialin;
    parse.port.host = id.toString();
    return parse;
}

} // namespace

bool NamesDialinPort(QStringView text) {
    return text.startsWith(u"dialin:", Qt::CaseInsensitive);
}

QString NetworkPort::Text() const {
    if (protocol == NetworkProtocol::Dialin)
        return QStringLiteral("dialin:") + host;
    const QString scheme =
        protocol == NetworkProtocol::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp");
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3").arg(scheme, shownHost).arg(port);
}

NetworkPortParse ParseNetworkPort(QStringView text) {
    if (NamesDialinPort(text))
        return ParseDialinPort(text);
    const qsizetype schemeEnd = text.indexOf(u"://");
    if (schemeEnd <= 0)
        return Refused(QStringLiteral("нет схемы tcp://, rfc2217:// или dialin:"));
    NetworkPortParse parse;
    const QStringView scheme = text.left(schemeEnd);
    if (scheme.compare(u"tcp", Qt::CaseInsensitive) == 0)
        parse.port.protocol = NetworkProtocol::RawTcp;
    else if (scheme.compare(u"rfc2217", Qt::CaseInsensitive) == 0)
        parse.port.protocol = NetworkProtocol::Rfc2217;
    else
        return Refused(
            QStringLiteral("неизвестная схема «%1» (нужна tcp://, rfc2217:// или dialin:)")
                .arg(ShownName(scheme)));

    const QStringView rest = text.mid(schemeEnd + 3);
    QStringView host;
    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return Refused(QStringLiteral("адрес IPv6 без закрывающей скобки"));
        host = rest.mid(1, close - 1);
        if (!rest.mid(close + 1).startsWith(u':'))
            return Refused(QStringLiteral("нет номера порта (нужно HOST:PORT)"));
        portText = rest.mid(close + 2);
        QHostAddress address;
        if (!address.setAddress(host.toString()) ||
            address.protocol() != QAbstractSocket::IPv6Protocol)
            return Refused(QStringLiteral("«%1» не адрес IPv6").arg(ShownName(host)));
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return Refused(QStringLiteral("нет номера порта (нужно HOST:PORT)"));
        host = rest.left(colon);
        portText = rest.mid(colon + 1);
        if (host.contains(u':'))
            return Refused(QStringLiteral("адрес IPv6 пишется в квадратных скобках"));
        const bool dotted = !host.isEmpty() && std::all_of(host.begin(), host.end(), [](QChar c) {
            return IsDigit(c) || c == u'.';
        });
        QHostAddress address;
        if (dotted ? !(address.setAddress(host.toString()) &&
                       address.protocol() == QAbstractSocket::IPv4Protocol)
                   : !IsHostName(host))
            return Refused(host.isEmpty()
                               ? QStringLiteral("нет имени или адреса устройства")
                               : QStringLiteral("«%1» не имя и не адрес").arg(ShownName(host)));
    }
    const bool digitsOnly = !portText.isEmpty() && portText.size() <= 5 &&
                            std::all_of(portText.begin(), portText.end(), IsDigit);
    const int port = digitsOnly ? portText.toInt() : 0;
    if (port < 1 || port > 65535)
        return Refused(
            QStringLiteral("номер порта «%1» не от 1 до 65535").arg(ShownName(portText)));
    parse.ok = true;
    parse.port.host = host.toString();
    parse.port.port = static_cast<std::uint16_t>(port);
    return parse;
}
