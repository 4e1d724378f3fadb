// The simulator as cellular modems that call the office: a listener on the loopback address in
// the test takes the calls, as the office's program would.

#include "DialRegistration.h"
#include "FrameCodec.h"
#include "LinkTestSupport.h"
#include "Loopback.h"
#include "SimHistory.h"
#include "SimOptions.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The office's listener on 127.0.0.1 (on port, or one the system picks).
struct Office {
    unsigned short port = 0;
    int fd = -1;
    explicit Office(unsigned short at = 0) : port(at) {
        if (at == 0) {
            fd = ListenOnLoopback(16, &port);
            return;
        }
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in address = LoopbackAddress(at);
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(fd, 16);
    }
    ~Office() { ::close(fd); }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    // The next call, or -1 when none comes within 5 s.
    int Accept() const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 5000) > 0 ? ::accept(fd, nullptr, nullptr) : -1;
    }
};

// What comes on a call until it holds at least `bytes` bytes or `ms` have passed (or it ends).
QByteArray Read(int call, qsizetype bytes, int ms) {
    QByteArray got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto left = deadline - Clock::now(); got.size() < bytes && left > 0s;
         left = deadline - Clock::now()) {
        pollfd p{call, POLLIN, 0};
        char buffer[4096];
        if (::poll(&p, 1, static_cast<int>(left / 1ms) + 1) <= 0)
            continue;
        const ssize_t n = ::read(call, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
    }
    return got;
}

QByteArray Frame(std::uint8_t command, const Bytes& payload) {
    const Bytes frame = kv::EncodeFrame(1, command, payload);
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

void Send(int call, const QByteArray& bytes) {
    ASSERT_EQ(::write(call, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

const QByteArray kSerial700 = Frame(7, {700 & 0xFF, 700 >> 8}); // the answer to "read serial"

// How many whole answers the stream holds, each whole between heartbeats (counted into beats);
// -1 when anything else is in it.
int WholeAnswers(QByteArray stream, const QByteArray& answer, const QByteArray& beat, int& beats) {
    int answers = 0;
    for (beats = 0; !stream.isEmpty();) {
        if (stream.startsWith(beat))
            ++beats, stream.remove(0, beat.size());
        else if (stream.startsWith(answer))
            ++answers, stream.remove(0, answer.size());
        else
            return -1;
    }
    return answers;
}

TEST(SimDialin, RegistrationsCountOnAndBadOptionsAreRefused) {
    const auto text = sim::ParseRegistration("KV0009");
    const auto hex = sim::ParseRegistration("hex:00FF");
    ASSERT_TRUE(text && hex);
    EXPECT_EQ(hex->bytes, QByteArray::fromHex("00FF"));
    EXPECT_EQ(sim::NumberedRegistration(*text, 11).bytes, "KV0020");
    EXPECT_EQ(sim::NumberedRegistration({"KV99", false}, 1).bytes, "KV100");
    EXPECT_EQ(sim::NumberedRegistration({"KV", false}, 0).bytes, "KV");
    EXPECT_EQ(sim::NumberedRegistration({"KV", false}, 2).bytes, "KV2");
    EXPECT_EQ(sim::RegistrationText(sim::NumberedRegistration(*hex, 1)), "hex:0100");
    EXPECT_EQ(sim::RegistrationText(sim::NumberedRegistration({"\xFF", true}, 1)), "hex:0100");
    for (const char* bad : {"", "hex:", "hex:ABC", "hex:ZZ"})
        EXPECT_FALSE(sim::ParseRegistration(bad)) << bad;

    QString error;
    const auto o = sim::ParseSimOptions(
        {"--dialin", "h:1", "--registration", "R", "--heartbeat", "0.5", "--fleet", "2000"}, error);
    ASSERT_TRUE(o) << error.toStdString();
    EXPECT_EQ(o->modem.heartbeatEveryNs, 500'000'000);
    const QStringList dial{"--dialin", "127.0.0.1:9"};
    for (const QStringList& bad :
         {QStringList{"--registration", "R"}, dial, dial + QStringList{"--registration", "hex:1"},
          dial + QStringList{"--registration", "R", "--heartbeat", "0"},
          dial + QStringList{"--registration", "R", "--redial", "x"},
          dial + QStringList{"--registration", "R", "--packet-bytes", "0"},
          dial + QStringList{"--registration", "R", "--tcp", "127.0.0.1:9"},
          dial + QStringList{"--registration", "R", "--fleet", "5001"},
          QStringList{"--tcp", "127.0.0.1:9", "--fleet", "1001"}})
        EXPECT_FALSE(sim::ParseSimOptions(bad, error)) << bad.join(QChar(0x20)).toStdString();
}

// The call starts with the registration; heartbeats come at their interval and only between
// answers; a frozen modem goes on on the same call once it is let run again.
TEST(SimDialin, RegistersThenAnswersWithHeartbeatsBetweenAnswers) {
    Office office;
    SimProcess sim({"--dialin", office.Address(), "--registration", "KV0042", "--serial", "700",
                    "--heartbeat", "0.1"});
    EXPECT_EQ(sim.Device(), "dialin:KV0042");
    const int call = office.Accept();
    ASSERT_GE(call, 0);
    const QByteArray first = Read(call, 1 << 20, 1000);
    EXPECT_TRUE(first.startsWith("KV0042"));
    int beats = 0;
    EXPECT_EQ(WholeAnswers(first.mid(6), kSerial700, "KVHB", beats), 0);
    EXPECT_GE(beats, 3); // about ten
    EXPECT_LE(beats, 11);

    QByteArray stream;
    for (int i = 0; i < 30; ++i) {
        Send(call, Frame(7, {}));
        stream += Read(call, 1 << 20, 20);
    }
    stream += Read(call, 1 << 20, 300);
    EXPECT_EQ(WholeAnswers(stream, kSerial700, "KVHB", beats), 30);
    EXPECT_GE(beats, 1);

    ::kill(sim.Pid(), SIGSTOP);
    std::this_thread::sleep_for(300ms);
    Read(call, 1 << 20, 50);
    ::kill(sim.Pid(), SIGCONT);
    Send(call, Frame(7, {}));
    EXPECT_EQ(WholeAnswers(Read(call, 1 << 20, 500), kSerial700, "KVHB", beats), 1);
    ::close(call);
}

// The modem's own bytes where they were asked for: the registration before every write, answers
// cut into packets, a heartbeat in the middle of every answer.
TEST(SimDialin, PacketsCarryRegistrationAndHeartbeatWhereAsked) {
    const QByteArray reg = QByteArray::fromHex("A55A01");
    const QByteArray frame = kSerial700;
    const qsizetype half = frame.size() / 2;
    QByteArray cut; // --registration-every-packet --packet-bytes 3
    for (qsizetype at = 0; at < frame.size(); at += 3)
        cut += reg + frame.mid(at, 3);
    const struct {
        QStringList args;
        QByteArray answer;
    } cases[] = {
        {{"--registration-every-packet", "--packet-bytes", "3"}, cut},
        {{"--heartbeat-inside", "--heartbeat-bytes", "~"},
         frame.left(half) + "~" + frame.mid(half)},
        {{"--heartbeat-inside", "--registration-every-packet", "--heartbeat-bytes", "hex:FFEE"},
         reg + frame.left(half) + reg + "\xFF\xEE" + reg + frame.mid(half)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QChar(0x20)).toStdString());
        Office office;
        SimProcess sim(QStringList{"--dialin", office.Address(), "--registration", "hex:A55A01",
                                   "--serial", "700"} +
                       c.args);
        EXPECT_EQ(sim.Device(), "dialin:hex:A55A01");
        const int call = office.Accept();
        ASSERT_GE(call, 0);
        EXPECT_EQ(Read(call, reg.size(), 3000), reg);
        for (int i = 0; i < 2; ++i) {
            Send(call, Frame(7, {}));
            EXPECT_EQ(Read(call, c.answer.size(), 3000), c.answer);
        }
        ::close(call);
    }
}

// Refused while nobody listens, called again after a call the office closed at once (an unknown
// registration): the modem keeps calling and serves the call that stays.
TEST(SimDialin, CallsAgainWhenRefusedOrClosed) {
    const unsigned short port = FreeTcpPort();
    SimProcess sim({"--dialin", QStringLiteral("127.0.0.1:%1").arg(port), "--registration", "KV1",
                    "--serial", "700", "--redial", "0.2"});
    ASSERT_TRUE(sim.Running());
    std::this_thread::sleep_for(500ms); // a few refused calls
    Office office(port);
    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        const int fd = office.Accept();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Read(fd, 3, 3000), "KV1");
        if (call == 2) {
            Send(fd, Frame(7, {}));
            EXPECT_EQ(Read(fd, kSerial700.size(), 3000), kSerial700);
        }
        ::close(fd);
    }
    sim.Stop();
    EXPECT_EQ(sim.ExitCode(), 0);
}

// --fleet: modem i calls with the registration counted on by i, and its controller has the serial
// number --serial + i and its own history at --at.
TEST(SimDialin, FleetModemsCallWithConsecutiveRegistrationsAndTheirOwnControllers) {
    Office office;
    SimProcess sim({"--dialin", office.Address(), "--registration", "KV0009", "--fleet", "3",
                    "--serial", "700", "--at", "2024-03-01T10:00"});
    EXPECT_EQ(sim.Device(), "dialin:KV0009");
    const QDateTime at(QDate(2024, 3, 1), QTime(10, 0), Qt::UTC);
    QStringList seen;
    std::vector<int> calls; // open to the end: a closed call is made again
    for (int n = 0; n < 3; ++n) {
        const int call = office.Accept();
        ASSERT_GE(call, 0);
        calls.push_back(call);
        const QByteArray reg = Read(call, 6, 3000);
        seen << QString::fromLatin1(reg);
        const int i = reg.mid(2).toInt() - 9;
        ASSERT_TRUE(i >= 0 && i < 3) << reg.toStdString();
        Send(call, Frame(30, FlashRead(0x1000, 32)));
        const QByteArray records =
            sim::HistoryArchiveAt(2, std::uint32_t(700 + i), at).mid(0x1000, 32);
        EXPECT_EQ(Read(call, 38, 5000), Frame(30, Bytes(records.begin(), records.end())));
    }
    for (int call : calls)
        ::close(call);
    seen.sort();
    EXPECT_EQ(seen, (QStringList{"KV0009", "KV0010", "KV0011"}));
}

} // namespace
