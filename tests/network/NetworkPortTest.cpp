// The names of ports on the network as the settings give them, and the bytes a box sends: the
// RFC 2217 layer and the frame decoder over a stream cut anywhere.

#include "NetworkPort.h"
#include "FrameCodec.h"
#include "PortMap.h"
#include "PortSettings.h"
#include "SettingsFile.h"
#include "TelnetComPort.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(NetworkPort, TakesTheThreeHostFormsAndRefusesAnythingElse) {
    struct Case {
        const char* text;
        const char* canonical; // empty: refused
    };
    const Case cases[] = {
        {"tcp://10.1.2.3:4001", "tcp://10.1.2.3:4001"},
        {"TCP://box-7.plant.example:1", "tcp://box-7.plant.example:1"},
        {"rfc2217://[fe80::1]:65535", "rfc2217://[fe80::1]:65535"},
        {"rfc2217://localhost:2217", "rfc2217://localhost:2217"},
        {"tcp://10.1.2.3", ""},               // no port
        {"tcp://10.1.2.3:0", ""},             // port out of range
        {"tcp://10.1.2.3:65536", ""},         //
        {"tcp://10.1.2.3:+80", ""},           // a sign is no digit
        {"tcp://10.1.2.3:4001/x", ""},        // nothing after the port
        {"tcp://user@10.1.2.3:4001", ""},     // no user part
        {"tcp://300.1.2.3:4001", ""},         // not an IPv4 address
        {"tcp://fe80::1:4001", ""},           // IPv6 without brackets
        {"tcp://[10.1.2.3]:4001", ""},        // brackets hold IPv6 only
        {"tcp://[fe80::1:4001", ""},          //
        {"tcp://bad_name:4001", ""},          // not a host name
        {"tcp://-box:4001", ""},              //
        {"tcp://:4001", ""},                  // no host
        {"udp://10.1.2.3:4001", ""},          // another scheme
        {"rfc2217://box:4001?baud=9600", ""}, // no options are read
    };
    for (const Case& c : cases) {
        const NetworkPortParse parse = ParseNetworkPort(QString::fromUtf8(c.text));
        EXPECT_EQ(parse.ok, *c.canonical != '\0') << c.text;
        if (parse.ok)
            EXPECT_EQ(parse.port.Text(), QString::fromUtf8(c.canonical)) << c.text;
        else
            EXPECT_FALSE(parse.cause.isEmpty()) << c.text;
    }
}

// Whatever part of the text is wrong (a scheme, a host, an IPv6 address, a port number), the
// cause repeats it on one line and cut: a megabyte or a terminal's escape sequence never reaches
// a message.
TEST(NetworkPort, TheCauseRepeatsTheTextOnOneShortLine) {
    const QString junk = QStringLiteral("\x1b[31m\x07\r\n") + QString(1 << 20, u'z');
    for (const QString& text :
         {junk + QStringLiteral("://box:1"), QStringLiteral("tcp://") + junk + QStringLiteral(":1"),
          QStringLiteral("tcp://[") + junk + QStringLiteral("]:1"),
          QStringLiteral("tcp://box:") + junk}) {
        const NetworkPortParse parse = ParseNetworkPort(text);
        ASSERT_FALSE(parse.ok);
        EXPECT_LT(parse.cause.size(), 200) << parse.cause.left(200).toStdString();
        EXPECT_FALSE(std::any_of(parse.cause.begin(), parse.cause.end(), [](QChar c) {
            return c.unicode() < 0x20;
        })) << parse.cause.left(200).toStdString();
        EXPECT_TRUE(parse.cause.contains(QStringLiteral("…"))) << parse.cause.toStdString();
    }
}

// A settings file's "Ports" section: a device path as before, a network port in one of its
// forms; a broken network entry and a key that names no port are left out, each named with its
// cause.
TEST(NetworkPort, SettingsRefuseABrokenEntryAndKeepTheRest) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kv9000.INI"));
    {
        SettingsFile settings(path);
        settings.WriteString(QStringLiteral("Ports"), QStringLiteral("COM3"),
                             QStringLiteral("/dev/ttyUSB0"));
        settings.WriteString(QStringLiteral("Ports"), QStringLiteral("COM20"),
                             QStringLiteral("tcp://10.1.2.3:4001"));
        settings.WriteString(QStringLiteral("Ports"), QStringLiteral("COM21"),
                             QStringLiteral("tcp://10.1.2.3"));
        settings.WriteString(QStringLiteral("Ports"), QStringLiteral("1"),
                             QStringLiteral("/dev/ttyUSB1"));
        settings.UpdateFile();
    }
    const SettingsFile settings(path);
    QStringList refused;
    const auto ports = settings.ReadPorts(&refused);
    EXPECT_EQ(ports, (std::map<int, QString>{{3, QStringLiteral("/dev/ttyUSB0")},
                                             {20, QStringLiteral("tcp://10.1.2.3:4001")}}));
    ASSERT_EQ(refused.size(), 2);
    EXPECT_TRUE(refused.join('\n').contains(QStringLiteral("COM21=tcp://10.1.2.3")))
        << refused.join('\n').toStdString();
    EXPECT_TRUE(refused.join('\n').contains(QStringLiteral("1=/dev/ttyUSB1: имя порта")))
        << refused.join('\n').toStdString();
}

// A refused entry's number stays unusable: it is never handed to one of the machine's serial
// devices, the other numbers keep theirs, and what the user wrote is repeated on one line and
// cut, whatever its length and control characters.
TEST(NetworkPort, ARefusedEntrysNumberNamesNoDeviceAndIsSaidOnOneShortLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kv9000.INI"));
    const QString huge = QStringLiteral("\x1b[2J\x1b]0;pwned\x07") + QString(1 << 20, u'a');
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("[Ports]\nCOM2=tcp://127.0.0.1:0\nCOM4=/dev/pts/7\nCOM5=tcp://" +
                    huge.toLatin1() + ":1\n")
                       .constData());
    }
    const PortSettings settings = ReadPortSettings(SettingsFile(path), [] {
        return QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2"};
    });
    const QStringList& refused = settings.refused;
    const PortMap& map = settings.ports;
    ASSERT_EQ(refused.size(), 2);
    for (const QString& line : refused) {
        EXPECT_LT(line.size(), 400) << line.left(400).toStdString();
        EXPECT_FALSE(std::any_of(line.begin(), line.end(), [](QChar c) {
            return c.unicode() < 0x20 || c == u'\x7f';
        })) << line.left(400).toStdString();
    }
    EXPECT_TRUE(refused[1].contains(QStringLiteral("\\x1b[2J"))) << refused[1].toStdString();

    // COM1 and COM3 keep the devices they had with the entries accepted; COM2 has none. On
    // Windows an unmapped number is the system's port of that name.
#ifdef Q_OS_WIN
    const QString com1 = QStringLiteral("\\\\.\\COM1");
    const QString com3 = QStringLiteral("\\\\.\\COM3");
    const QString com6 = QStringLiteral("\\\\.\\COM6");
#else
    const QString com1 = QStringLiteral("/dev/ttyS0");
    const QString com3 = QStringLiteral("/dev/ttyS1");
    const QString com6 = QStringLiteral("/dev/ttyS2");
#endif
    EXPECT_EQ(map.DeviceFor(1), com1);
    EXPECT_EQ(map.DeviceFor(2), QString());
    EXPECT_EQ(map.DeviceFor(3), com3);
    EXPECT_EQ(map.DeviceFor(5), QString());
    EXPECT_EQ(map.DeviceFor(6), com6);
#ifndef Q_OS_WIN // Windows lists only the ports its system knows now
    EXPECT_EQ(map.Assigned(),
              (std::vector<std::pair<int, QString>>{
                  {1, com1}, {3, com3}, {4, QStringLiteral("/dev/pts/7")}, {6, com6}}));
#endif
    EXPECT_EQ(map.RefusedCause(2),
              QStringLiteral("запись [Ports] COM2=tcp://127.0.0.1:0 не принята: номер порта «0» "
                             "не от 1 до 65535"));
    EXPECT_LT(map.RefusedCause(5).size(), 400);
    EXPECT_EQ(map.RefusedCause(4), QString());
}

// What a box sends, cut in two at every position: the telnet answers to the greeting, a reply
// whose payload holds 0xFF (doubled on the connection) and a second reply merged behind it.
// Every cut gives the same two frames, and the box's answers to the settings are all read.
TEST(NetworkPort, FramesComeWholeFromAStreamCutAnywhere) {
    const Bytes first = kv::EncodeFrame(1, 30, Bytes{0xFF, 0x00, 0xFF, 0xFF, 0xA5});
    const Bytes second = kv::EncodeFrame(1, 3, Bytes{0x41, 0xFF});
    Bytes line = first;
    line.insert(line.end(), second.begin(), second.end());

    Bytes stream = {255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44};
    const Bytes
        answers = {255, 250, 44,  101, 0,   1,   194, 0,   255, 240, // 115200
                   255, 250, 44,  102, 8,   255, 240, 255, 250, 44,  103, 1,
                   255, 240, 255, 250, 44,  104, 1,   255, 240, 255, 250, 44,
                   105, 1,   255, 240, 255, 250, 44,  107, 0,   255, 240}; // a modem state notice
    stream.insert(stream.end(), answers.begin(), answers.end());
    const Bytes escaped = TelnetComPort::Escape(line);
    stream.insert(stream.end(), escaped.begin(), escaped.end());

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        TelnetComPort telnet(115200);
        kv::FrameDecoder decoder(41);
        std::vector<kv::Frame> frames;
        Bytes reply;
        for (const auto piece : {std::span(stream).first(cut), std::span(stream).subspan(cut)}) {
            Bytes data;
            telnet.Feed(piece, data, reply);
            decoder.Feed(data);
            while (auto frame = decoder.Next())
                frames.push_back(*frame);
        }
        ASSERT_EQ(frames.size(), 2u) << "cut at " << cut;
        EXPECT_EQ(frames[0].payload, (Bytes{0xFF, 0x00, 0xFF, 0xFF, 0xA5})) << cut;
        EXPECT_EQ(frames[1].payload, (Bytes{0x41, 0xFF})) << cut;
        EXPECT_TRUE(telnet.Settled()) << cut;
        EXPECT_TRUE(telnet.Deviations().isEmpty()) << cut;
        // Echo is refused and go-ahead suppression agreed, once each, whatever the cut.
        EXPECT_EQ(reply, (Bytes{255, 253, 3, 255, 251, 3, 255, 254, 1})) << cut;
    }
}

} // namespace
