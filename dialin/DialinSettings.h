#pragma once

// How the modems of a fleet call in, from the settings' "Dial-in" section:
//
//   [Dial-in]
//   Registration=text            the fleet list's dialin:ID is the text the modem sends; "hex":
//                                ID is the bytes written in hex ("dialin:4B5630303432")
//   Registration every packet=0  1: the modem puts its registration before every packet it
//                                sends, and it is taken off the stream like a heartbeat
//   Heartbeat=                   the heartbeat's bytes: text, or "hex:…"; empty: none
//   Heartbeat interval=60        seconds; a call silent for three intervals is closed
//   Collect after=20             hours: a modem whose newest kept download is older is collected
//                                when it calls; a negative number: never
//   Max calls=4096               calls held at once, all modems together
//   Allow=                       source networks allowed to call, CIDR, comma-separated
//                                ("203.0.113.0/24, 2001:db8::/32"); empty: any
//
// A value the program cannot take is said with its cause and the default is used instead (for
// Allow=, a network it cannot read allows nothing rather than everything).

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class SettingsFile;

enum class RegistrationForm { Text, Hex };

struct DialinSettings {
    RegistrationForm form = RegistrationForm::Text;
    bool registrationEveryPacket = false;
    QByteArray heartbeat; // empty: the modems send none
    int heartbeatSeconds = 60;
    std::optional<int> collectAfterHours = 20;
    int maxCalls = 4096;
    // Empty: every source address may call.
    std::vector<std::pair<QHostAddress, int>> allow;
    bool allowNothing = false; // an Allow= entry could not be read

    // Whether a call from this address may be taken.
    bool Allows(const QHostAddress& address) const;
    // The bytes a modem sends for the fleet list's ID; nothing when the ID cannot be one in this
    // form (hex digits in pairs, at most MaxRegistrationBytes bytes).
    std::optional<QByteArray> RegistrationOf(const QString& id) const;
};

// The section as read; refused gets one line per value not taken.
DialinSettings ReadDialinSettings(const SettingsFile& settings, QStringList* refused);

// Unregistered calls held at once from one source address, at most.
constexpr int MaxUnregisteredPerAddress = 8;
// A modem that sends no registration within this time is hung up on.
constexpr int RegistrationTimeoutMs = 10000;
