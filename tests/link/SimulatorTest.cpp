// The simulator's own parts: its command line, its fault plan, its pacing.

#include "LinkTestSupport.h"
#include "MappedPorts.h"
#include "PortMap.h"
#include "SimFaults.h"
#include "SimHistory.h"
#include "SimOptions.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(SimOptions, NumberListsAndBadArguments) {
    EXPECT_EQ(sim::ParseNumberList("3"), (std::set<int>{3}));
    EXPECT_EQ(sim::ParseNumberList("1,5,10-12"), (std::set<int>{1, 5, 10, 11, 12}));
    for (const char* bad : {"", "0", "-1", "a", "5-3", "1-2-3", "1,,x"})
        EXPECT_FALSE(sim::ParseNumberList(bad)) << bad;

    QString error;
    const auto o = sim::ParseSimOptions({"--channels", "1", "--drop", "2,4", "--garbage"}, error);
    ASSERT_TRUE(o) << error.toStdString();
    EXPECT_EQ(o->channels, 1);
    EXPECT_EQ(o->faults.drop, (std::set<int>{2, 4}));
    EXPECT_TRUE(o->faults.garbage);
    EXPECT_EQ(sim::DefaultIdentification(1), "Лорк КB-9000Л вер. 1.07");

    for (const QStringList& bad :
         {QStringList{"--channels", "3"}, QStringList{"--address", "256"},
          QStringList{"--serial", "65536"}, QStringList{"--bogus"}, QStringList{"--baud", "0"},
          QStringList{"stray"}, QStringList{"--fleet", "3"}, QStringList{"--tcp", "nohost"},
          QStringList{"--tcp", "127.0.0.1:65535", "--fleet", "2"},
          QStringList{"--tcp", "127.0.0.1:7000", "--log", "x"}})
        EXPECT_FALSE(sim::ParseSimOptions(bad, error)) << bad.join(QChar(0x20)).toStdString();
}

TEST(SimFaults, FlashReadsAreCountedWithRetriesAndOtherRequestsApart) {
    sim::FaultOptions options;
    options.drop = {2};
    options.late = {3};
    options.dropEvery = 4;
    sim::SimFaults faults(options);
    const kv::Frame flash{1, 30, {0, 0, 0, 0, 32}};
    const kv::Frame identification{1, 3, {}};

    EXPECT_FALSE(faults.ForRequest(flash).drop);          // request 1, flash read 1
    EXPECT_FALSE(faults.ForRequest(identification).drop); // request 2
    EXPECT_TRUE(faults.ForRequest(flash).drop);           // request 3, flash read 2
    EXPECT_TRUE(faults.ForRequest(identification).drop);  // request 4: every 4th
    const auto third = faults.ForRequest(flash);          // request 5, flash read 3
    EXPECT_TRUE(third.late);
    EXPECT_FALSE(third.drop);
}

TEST(SimFaults, NoiseNeverHidesOrReplacesTheAnswer) {
    sim::FaultOptions options;
    options.garbage = true;
    sim::SimFaults faults(options, 77);
    for (int i = 0; i < 2000; ++i) {
        const Bytes answer = kv::EncodeFrame(1, 30, Bytes(32, static_cast<std::uint8_t>(i)));
        Bytes line = faults.NoiseBefore(answer);
        ASSERT_FALSE(line.empty());
        line.insert(line.end(), answer.begin(), answer.end());
        kv::FrameDecoder decoder(kRxBufferSize);
        decoder.Feed(line);
        const auto frame = decoder.Next();
        ASSERT_TRUE(frame) << i;
        EXPECT_EQ(kv::EncodeFrame(frame->address, frame->command, frame->payload), answer);
        EXPECT_FALSE(decoder.Next());
    }
}

// At 19,200 bit/s a flash read (an 11-byte request and a 38-byte answer) takes 25.5 ms of line
// time; the simulator never answers sooner than a real line would.
TEST(SimPacing, AnswersTakeTheirLineTime) {
    EnsureQtCoreApp();
    SimProcess sim({"--baud", "19200"});
    ASSERT_FALSE(sim.Device().isEmpty());
    FrameLink link(MappedPorts({{1, sim.Device()}}));
    ASSERT_TRUE(link.OpenCOM("COM1", 19200));
    constexpr int kReads = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kReads; ++i)
        ASSERT_TRUE(Exchange(link, 30, FlashRead(static_cast<std::uint32_t>(i) * 32, 32)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, kReads * 49 * 10 / 19200.0);
    link.CloseCOM();
}

// More answers than the line holds while nobody reads: the simulator waits for room instead of
// leaving a cut frame (and losing the rest) when the line's buffer fills in mid-frame.
TEST(SimLine, AnswersThatFillTheLineLeaveWholeOnceItIsRead) {
    SimProcess sim;
    ASSERT_FALSE(sim.Device().isEmpty());
    const int fd = ::open(sim.Device().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    constexpr int kRequests = 3000; // 114 KB of answers
    Bytes requests;
    for (int i = 0; i < kRequests; ++i) {
        const Bytes frame =
            kv::EncodeFrame(1, 30, FlashRead(static_cast<std::uint32_t>(i) * 32, 32));
        requests.insert(requests.end(), frame.begin(), frame.end());
    }
    ASSERT_EQ(::write(fd, requests.data(), requests.size()), ssize_t(requests.size()));

    kv::FrameDecoder decoder;
    int answers = 0;
    Bytes chunk(4096);
    pollfd in{fd, POLLIN, 0};
    while (answers<kRequests&& ::poll(&in, 1, 3000)> 0) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        ASSERT_GT(n, 0);
        decoder.Feed(std::span(chunk.data(), static_cast<std::size_t>(n)));
        while (decoder.Next())
            ++answers;
    }
    ::close(fd);
    EXPECT_EQ(answers, kRequests);
    EXPECT_EQ(decoder.DroppedFrames(), 0u);
}

// One request to the controller on a local TCP port, on a connection of its own; the answer's
// payload, or nothing.
std::optional<Bytes> AskOverTcp(int port, std::uint8_t command, const Bytes& payload) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::optional<Bytes> answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const Bytes frame = kv::EncodeFrame(1, command, payload);
        EXPECT_EQ(::write(fd, frame.data(), frame.size()), ssize_t(frame.size()));
        kv::FrameDecoder decoder(kRxBufferSize);
        std::uint8_t buffer[512];
        for (pollfd wait{fd, POLLIN, 0}; !answer && ::poll(&wait, 1, 3000) > 0;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            decoder.Feed(std::span(buffer, static_cast<std::size_t>(n)));
            if (auto f = decoder.Next())
                answer = f->payload;
        }
    }
    ::close(fd);
    return answer;
}

// --tcp --fleet: controllers on consecutive ports of one process, serial numbers from --serial
// on, each with its own history at --at; a port serves the next connection after one closes.
TEST(SimFleet, ControllersOnConsecutivePortsEachWithItsSerialAndHistory) {
    constexpr int kFleet = 3;
    int port = 0;
    const auto sim = StartSimFleet(kFleet, {"--serial", "700", "--at", "2024-03-01T10:00"}, port);
    ASSERT_TRUE(sim->Running());
    EXPECT_EQ(sim->Device(), QStringLiteral("tcp://127.0.0.1:%1").arg(port));
    const QDateTime at(QDate(2024, 3, 1), QTime(10, 0), Qt::UTC);
    for (int i = 0; i < kFleet; ++i)
        for (int again = 0; again < 2; ++again) {
            SCOPED_TRACE(i);
            EXPECT_EQ(AskOverTcp(port + i, 7, {}),
                      Bytes({static_cast<std::uint8_t>(700 + i), 700 >> 8}));
            const QByteArray history = sim::HistoryArchiveAt(2, 700 + i, at);
            const auto records = AskOverTcp(port + i, 30, FlashRead(0x1000, 32));
            ASSERT_TRUE(records);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(records->data()),
                                 static_cast<qsizetype>(records->size())),
                      history.mid(0x1000, 32));
        }
    sim->Stop();
    EXPECT_EQ(sim->ExitCode(), 0);
}

} // namespace
