// The simulator's own parts: its command line, its fault plan, its pacing.

#include "LinkTestSupport.h"
#include "PortMap.h"
#include "SimFaults.h"
#include "SimOptions.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
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

    for (const QStringList& bad : {QStringList{"--channels", "3"}, QStringList{"--address", "256"},
                                   QStringList{"--serial", "65536"}, QStringList{"--bogus"},
                                   QStringList{"--baud", "0"}, QStringList{"stray"}})
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
    SetSystemSerialDevices([] { return QStringList{}; });
    SimProcess sim({"--baud", "19200"});
    ASSERT_FALSE(sim.Device().isEmpty());
    SetPortMap({{1, sim.Device()}});
    FrameLink link;
    ASSERT_TRUE(link.OpenCOM("COM1", 19200));
    constexpr int kReads = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kReads; ++i)
        ASSERT_TRUE(Exchange(link, 30, FlashRead(static_cast<std::uint32_t>(i) * 32, 32)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, kReads * 49 * 10 / 19200.0);
    link.CloseCOM();
    SetPortMap({});
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

} // namespace
