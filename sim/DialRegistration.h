#pragma once

// The registration a modem names itself with when its call is up: a fixed text ("KV0042") or
// bytes written as hex:0A1B2C. The modems of a fleet carry consecutive registrations.

#include <QByteArray>
#include <QString>

#include <optional>

namespace sim {

struct Registration {
    QByteArray bytes;
    bool hex = false; // given as hex:..., and shown so
};

// "hex:0A1B2C" (an even, nonzero count of hex digits) or any other nonempty text, as UTF-8.
std::optional<Registration> ParseRegistration(const QString& text);

// The registration of the fleet's modem i (0: first itself). A text's trailing decimal digits
// count on in their width ("KV0001" -> "KV0002"), a text without them gets i appended from the
// second modem on; hex bytes count on as a big-endian number.
Registration NumberedRegistration(const Registration& first, int i);

// As given on the command line: the text, or hex:0A1B2C.
QString RegistrationText(const Registration& registration);

} // namespace sim
