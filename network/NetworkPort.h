#pragma once

// A port on the network: a serial device server (an Ethernet-to-RS-232 box) or a modem in
// transparent TCP mode, named in the settings' "Ports" section as
//
//   tcp://HOST:PORT       raw bytes both ways
//   rfc2217://HOST:PORT   the box speaks RFC 2217 (telnet with the line's settings)
//   dialin:ID             a cellular modem that calls the office's listener (kv9000 --listen)
//                         and names itself by the registration ID; reached through the listener
//
// HOST is a name, an IPv4 address, or an IPv6 address in brackets ("[fe80::1]"); PORT is 1 to
// 65535. Nothing else is read from the text: no user, path, query or options. How network/
// reports a failure: a parse gives the value or its cause in plain Russian (NetworkPortParse);
// the stream (NetworkTransport.h) gives TransportResult like a serial port, and a text for what
// its box refused.

#include <QString>
#include <QStringView>

#include <cstdint>

enum class NetworkProtocol { RawTcp, Rfc2217, Dialin };

struct NetworkPort {
    NetworkProtocol protocol = NetworkProtocol::RawTcp;
    QString host; // as written, without the brackets of an IPv6 address; a modem's registration
    std::uint16_t port = 0; // 0 for a modem that calls in

    // "tcp://10.1.2.3:4001", "rfc2217://[fe80::1]:2217", "dialin:KV0042": the scheme in lower
    // case.
    QString Text() const;
};

struct NetworkPortParse {
    bool ok = false;
    NetworkPort port;
    QString cause; // why the text is not a network port, when !ok
};

NetworkPortParse ParseNetworkPort(QStringView text);

// The longest registration a modem may send, in bytes; written as hex it takes twice the
// characters.
constexpr int MaxRegistrationBytes = 64;

// "dialin:" in any letter case starts the text.
bool NamesDialinPort(QStringView text);
