#include "DialinSettings.h"

#include "NetworkPort.h"
#include "OneLinePath.h"
#include "SettingsFile.h"

namespace {

const QString Section = QStringLiteral("Dial-in");

QString Refusal(const QString& key, const QString& value, const QString& cause) {
    return QStringLiteral("Настройка не принята: [Dial-in] %1=%2: %3")
        .arg(key, ShownName(value), cause);
}

// A whole number from low to high, or nothing (said).
std::optional<int> Number(const SettingsFile& settings, const QString& key, int low, int high,
                          QStringList* refused) {
    const QString text = settings.ReadString(Section, key, {}).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= low && value <= high)
        return value;
    if (refused)
        *refused << Refusal(key, text,
                            QStringLiteral("нужно целое число от %1 до %2").arg(low).arg(high));
    return std::nullopt;
}

std::optional<QByteArray> HexBytes(QStringView hex) {
    if (hex.isEmpty() || hex.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : hex)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return std::nullopt;
    return QByteArray::fromHex(hex.toLatin1());
}

void ReadAllow(const SettingsFile& settings, DialinSettings& dialin, QStringList* refused) {
    const QString text = settings.ReadString(Section, QStringLiteral("Allow"), {}).trimmed();
    if (text.isEmpty())
        return;
    for (const QString& entry : text.split(u',', Qt::SkipEmptyParts)) {
        const auto subnet = QHostAddress::parseSubnet(entry.trimmed());
        if (subnet.first.isNull()) {
            dialin.allowNothing = true;
            if (refused)
                *refused << Refusal(QStringLiteral("Allow"), entry.trimmed(),
                                    QStringLiteral("не сеть (нужно адрес/длина, например "
                                                   "203.0.113.0/24); звонки не принимаются"));
            continue;
        }
        dialin.allow.push_back(subnet);
    }
}

void ReadHeartbeat(const SettingsFile& settings, DialinSettings& dialin, QStringList* refused) {
    const QString text = settings.ReadString(Section, QStringLiteral("Heartbeat"), {});
    if (!text.startsWith(u"hex:", Qt::CaseInsensitive)) {
        dialin.heartbeat = text.toUtf8();
    } else if (const auto bytes = HexBytes(QStringView(text).mid(4))) {
        dialin.heartbeat = *bytes;
    } else if (refused) {
        *refused << Refusal(QStringLiteral("Heartbeat"), text,
                            QStringLiteral("после hex: нужны байты в шестнадцатеричном виде"));
    }
    if (dialin.heartbeat.size() > MaxRegistrationBytes) {
        dialin.heartbeat.clear();
        if (refused)
            *refused << Refusal(QStringLiteral("Heartbeat"), text,
                                QStringLiteral("длиннее %1 байт").arg(MaxRegistrationBytes));
    }
    dialin.heartbeatSeconds =
        Number(settings, QStringLiteral("Heartbeat interval"), 1, 3600, refused).value_or(60);
}

} // namespace

bool DialinSettings::Allows(const QHostAddress& address) const {
    if (allowNothing)
        return false;
    if (allow.empty())
        return true;
    // An IPv4 caller on a dual-stack socket comes as ::ffff:a.b.c.d.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QHostAddress plain = mapped ? QHostAddress(v4) : address;
    for (const auto& subnet : allow)
        if (plain.isInSubnet(subnet))
            return true;
    return false;
}

std::optional<QByteArray> DialinSettings::RegistrationOf(const QString& id) const {
    if (form == RegistrationForm::Hex)
        return HexBytes(id);
    const QByteArray bytes = id.toUtf8();
    if (bytes.isEmpty() || bytes.size() > MaxRegistrationBytes)
        return std::nullopt;
    return bytes;
}

DialinSettings ReadDialinSettings(const SettingsFile& settings, QStringList* refused) {
    DialinSettings dialin;
    const QString form =
        settings.ReadString(Section, QStringLiteral("Registration"), QStringLiteral("text"))
            .trimmed();
    if (form.compare(u"hex", Qt::CaseInsensitive) == 0)
        dialin.form = RegistrationForm::Hex;
    else if (form.compare(u"text", Qt::CaseInsensitive) != 0 && refused)
        *refused << Refusal(QStringLiteral("Registration"), form,
                            QStringLiteral("нужно text или hex"));
    dialin.registrationEveryPacket =
        Number(settings, QStringLiteral("Registration every packet"), 0, 1, refused).value_or(0) ==
        1;
    ReadHeartbeat(settings, dialin, refused);
    const QString after =
        settings.ReadString(Section, QStringLiteral("Collect after"), {}).trimmed();
    if (!after.isEmpty()) {
        bool ok = false;
        const int hours = after.toInt(&ok);
        if (!ok && refused)
            *refused << Refusal(QStringLiteral("Collect after"), after,
                                QStringLiteral("нужно целое число часов"));
        dialin.collectAfterHours = !ok         ? std::optional(20)
                                   : hours < 0 ? std::nullopt
                                               : std::optional(hours);
    }
    dialin.maxCalls =
        Number(settings, QStringLiteral("Max calls"), 1, 65536, refused).value_or(4096);
    ReadAllow(settings, dialin, refused);
    return dialin;
}
