// The link over a scripted byte stream, for what the simulator cannot produce on demand: replies
// with bad CRCs only, oversized replies, bytes dribbling in, a port that fails mid-call.

#include "CommandCode.h"
#include "Discovery.h"
#include "Exchange.h"
#include "FlashRead.h"
#include "FrameCodec.h"
#include "IdentityCommands.h"
#include "LinkTestSupport.h"
#include "LinkTransport.h"
#include "MappedPorts.h"
#include "PortMap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// What the fake port does and what it was given; shared between the test and the stream the
// link owns.
struct FakeLine {
    struct Chunk {
        int delayMs; // after the previous chunk was read
        Bytes bytes;
    };
    bool opens = true;
    TransportResult discard = TransportResult::Ok;
    TransportResult write = TransportResult::Ok;
    bool readFails = false;
    std::deque<Chunk> incoming;
    std::vector<Bytes> written;
    int discards = 0;
    int opened = 0;

    void Reply(const Bytes& bytes, int delayMs = 0) { incoming.push_back({delayMs, bytes}); }
};

class FakeTransport final : public LinkTransport {
public:
    explicit FakeTransport(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
    bool Open(const QString&, std::int32_t) override {
        ++line_->opened;
        return line_->opens;
    }
    bool SetMode8N1() override { return true; }
    TransportResult DiscardInput() override {
        ++line_->discards;
        return line_->discard;
    }
    TransportResult Write(std::span<const std::uint8_t> bytes, int) override {
        if (line_->write == TransportResult::Ok)
            line_->written.emplace_back(bytes.begin(), bytes.end());
        return line_->write;
    }
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override {
        if (line_->readFails)
            return TransportResult::Failed;
        if (line_->incoming.empty() || line_->incoming.front().delayMs > timeoutMs) {
            if (!line_->incoming.empty())
                line_->incoming.front().delayMs -= timeoutMs;
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return TransportResult::TimedOut;
        }
        auto chunk = std::move(line_->incoming.front());
        line_->incoming.pop_front();
        std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
        into.insert(into.end(), chunk.bytes.begin(), chunk.bytes.end());
        return TransportResult::Ok;
    }

private:
    std::shared_ptr<FakeLine> line_;
};

Bytes Frame(std::uint8_t address, std::uint8_t command, const Bytes& payload) {
    return kv::EncodeFrame(address, command, payload);
}

Bytes WithBadCrc(Bytes frame) {
    frame.back() ^= 0x01;
    return frame;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LinkFakeTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        link.SetPortMap(MappedPorts({{1, "/dev/fake"}}));
        link.SetTransportFactory([line = line_] { return std::make_unique<FakeTransport>(line); });
        ASSERT_TRUE(link.OpenCOM("COM1", 115200));
        link.DeviceAddress = 1;
    }
    void TearDown() override { link.CloseCOM(); }

    FrameLink link;

    // A reply read into a buffer with guard bytes on both sides.
    struct Guarded {
        std::uint8_t area[16 + kRxBufferSize + 64];
        Guarded() { std::fill(std::begin(area), std::end(area), 0xCC); }
        std::uint8_t* Buffer() { return area + 16; }
        bool GuardsIntact() const {
            return std::all_of(area, area + 16, [](auto b) { return b == 0xCC; }) &&
                   std::all_of(area + 16 + kRxBufferSize, std::end(area),
                               [](auto b) { return b == 0xCC; });
        }
    };

    bool Receive(int timeoutMs, std::uint8_t* buffer = nullptr) {
        return link.RxFrame(timeoutMs, &link.DeviceAddress, &link.FrameCommand, &link.FrameLength,
                            buffer ? buffer : link.RxBuffer);
    }

    std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
};

TEST_F(LinkFakeTransportTest, TxFrameFlushesThenSendsOneFrame) {
    link.TxBuffer[0] = 0x39;
    link.TxBuffer[1] = 0x30;
    ASSERT_TRUE(link.TxFrame(5, 8, 2, link.TxBuffer));
    EXPECT_EQ(line_->discards, 1);
    ASSERT_EQ(line_->written.size(), 1u);
    EXPECT_EQ(line_->written[0], Frame(5, 8, {0x39, 0x30}));

    // More than the 37 bytes of TxBuffer would be read from beyond it.
    EXPECT_FALSE(link.TxFrame(5, 10, kTxBufferSize + 1, link.TxBuffer));
    EXPECT_EQ(line_->written.size(), 1u);
}

TEST_F(LinkFakeTransportTest, ReplyWithABadCrcIsDropped) {
    link.FrameCommand = 7;
    link.FrameLength = 0;
    line_->Reply(WithBadCrc(Frame(1, 7, {0x11, 0x22})));
    EXPECT_FALSE(Receive(50));
    EXPECT_EQ(link.FrameCommand, 7) << "nothing is stored on failure";
    EXPECT_EQ(link.FrameLength, 0);

    line_->Reply(WithBadCrc(Frame(1, 7, {0x11, 0x22})) + Frame(1, 7, {0x39, 0x30}));
    ASSERT_TRUE(Receive(50));
    EXPECT_EQ(Reply(link), QByteArray("\x39\x30", 2));
}

TEST_F(LinkFakeTransportTest, OversizedReplyNeverWritesPastTheBuffer) {
    for (std::size_t n : {42u, 100u, 255u}) {
        Guarded guarded;
        line_->Reply(Frame(1, 30, Bytes(n, 0x77)));
        EXPECT_FALSE(Receive(30, guarded.Buffer())) << n;
        EXPECT_TRUE(guarded.GuardsIntact()) << n;
    }

    // An oversized header is dropped at once; a good reply right behind it is taken, even one
    // that fills all 41 bytes.
    Guarded guarded;
    Bytes oversized = Frame(1, 30, Bytes(200, 0x77));
    oversized.resize(kv::kFrameHeaderSize);
    line_->Reply(oversized + Frame(1, 30, Bytes(kRxBufferSize, 0x42)));
    ASSERT_TRUE(Receive(50, guarded.Buffer()));
    EXPECT_EQ(link.FrameLength, kRxBufferSize);
    EXPECT_TRUE(std::all_of(guarded.Buffer(), guarded.Buffer() + kRxBufferSize,
                            [](auto b) { return b == 0x42; }));
    EXPECT_TRUE(guarded.GuardsIntact());
}

TEST_F(LinkFakeTransportTest, ReplyIsReadByItsDeclaredLength) {
    // One byte at a time, with pauses longer than a character time in between.
    for (std::uint8_t b : Frame(1, 30, Bytes(32, 0xA5)))
        line_->Reply({b}, 2);
    ASSERT_TRUE(Receive(1000));
    EXPECT_EQ(link.FrameLength, 32);
    EXPECT_EQ(Reply(link), QByteArray(32, static_cast<char>(0xA5)));
}

TEST_F(LinkFakeTransportTest, ReplyTextsNeverShowBytesAnEarlierLongerReplyLeft) {
    std::fill(std::begin(link.RxBuffer), std::end(link.RxBuffer), 'Z'); // a long reply before
    line_->Reply(Frame(1, 7, {0x39, 0x30}));
    line_->Reply(Frame(1, 5, {0x01}));
    line_->Reply(Frame(1, 9, {'A', 'B'})); // texts without their zero byte
    line_->Reply(Frame(1, 3, {'C'}));
    const IdentityReadResult read = ReadIdentity(link);
    EXPECT_EQ(read.comment, QByteArray("AB"));
    EXPECT_EQ(read.identification, QByteArray("C"));
    EXPECT_EQ(read.lastReply, QByteArray("C"));

    line_->Reply(Frame(1, 3, {'D', 0, 'E'}));
    QByteArray text;
    ASSERT_TRUE(ReadIdentification(link, text));
    EXPECT_EQ(text, QByteArray("D"));

    // Numbers in replies too short for them: what is missing is zero, never an earlier byte.
    std::fill(std::begin(link.RxBuffer), std::end(link.RxBuffer), 'Z');
    line_->Reply(Frame(1, 7, {0x39}));
    line_->Reply(Frame(1, 5, {}));
    line_->Reply(Frame(1, 9, {}));
    line_->Reply(Frame(1, 3, {}));
    const IdentityReadResult shortRead = ReadIdentity(link);
    EXPECT_EQ(shortRead.serial, 0x0039);
    EXPECT_EQ(shortRead.address, 0);
    EXPECT_EQ(shortRead.comment, QByteArray());
}

TEST_F(LinkFakeTransportTest, TheCurrentPortIsThePortTheLinkHasOpen) {
    EXPECT_EQ(link.CurrentPort(), 1);
    link.CloseCOM();
    EXPECT_EQ(link.CurrentPort(), 0);
    ASSERT_TRUE(OpenPort(link, 1, 115200));
    EXPECT_TRUE(link.TxFrame(1, 3, 0, link.TxBuffer)) << "a closed port was taken for open";
    EXPECT_FALSE(OpenPort(link, 0, 115200));
    EXPECT_EQ(link.CurrentPort(), 0);
}

TEST_F(LinkFakeTransportTest, TimeOutRunsFromTheCallToTheLastByte) {
    const Bytes frame = Frame(1, 5, {0x01});
    auto dribble = [&] {
        for (std::uint8_t b : frame)
            line_->Reply({b}, 15); // the last byte arrives after about 105 ms
    };
    dribble();
    auto start = Clock::now();
    EXPECT_FALSE(Receive(60)) << "a reply still coming in at the time-out is too late";
    EXPECT_GE(MsSince(start), 60);
    EXPECT_LT(MsSince(start), 150);

    line_->incoming.clear();
    dribble();
    EXPECT_TRUE(Receive(400));
}

TEST_F(LinkFakeTransportTest, StreamFailuresAreLinkFailures) {
    line_->discard = TransportResult::Failed;
    EXPECT_FALSE(link.TxFrame(1, 3, 0, link.TxBuffer));
    EXPECT_TRUE(line_->written.empty()) << "nothing is sent when the flush fails";
    EXPECT_EQ(link.LastOutcome(), LinkOutcome::PortFailed);

    line_->discard = TransportResult::Ok;
    line_->write = TransportResult::TimedOut;
    EXPECT_FALSE(link.TxFrame(1, 3, 0, link.TxBuffer));
    EXPECT_EQ(link.LastOutcome(), LinkOutcome::TimedOut);

    EXPECT_FALSE(Receive(20));
    EXPECT_EQ(link.LastOutcome(), LinkOutcome::TimedOut) << "a silent line is a time-out";

    line_->readFails = true;
    line_->Reply(Frame(1, 3, {0x00}), 10);
    const auto start = Clock::now();
    EXPECT_FALSE(Receive(5000));
    EXPECT_LT(MsSince(start), 100) << "a failed port is not waited on";
    EXPECT_EQ(link.LastOutcome(), LinkOutcome::PortFailed) << "a lost port is no time-out";
}

// The cause of a failure reaches the command sequences, whose texts stay the user's.
TEST_F(LinkFakeTransportTest, CommandSequencesKeepTheCauseOfTheirFailure) {
    IdentityReadResult read = ReadIdentity(link); // nothing answers
    EXPECT_EQ(read.error, QByteArray("RX Error"));
    EXPECT_EQ(read.cause, LinkOutcome::TimedOut);

    line_->readFails = true; // the cable is pulled
    read = ReadIdentity(link);
    EXPECT_EQ(read.error, QByteArray("RX Error"));
    EXPECT_EQ(read.cause, LinkOutcome::PortFailed);

    line_->discard = TransportResult::Failed;
    IdentityWriteSteps steps;
    EXPECT_EQ(WriteIdentity(link, IdentityChange{}, &steps), QByteArray("TX Error"));
    EXPECT_EQ(steps.address, IdentityStep::Failed);
    EXPECT_EQ(steps.cause, LinkOutcome::PortFailed);

    link.CloseCOM();
    EXPECT_EQ(RequestFlashBlock(link, 0, 32), LinkOutcome::NotOpen);
    EXPECT_EQ(ReceiveFlashBlock(link, 32).outcome, LinkOutcome::NotOpen);
}

// A late answer to an earlier request (a flash read after its time-out) comes before the reply
// asked for: an exchange takes only the reply to its own command, and says when none came.
TEST_F(LinkFakeTransportTest, AnExchangeTakesOnlyTheReplyToItsOwnCommand) {
    line_->Reply(Frame(1, 30, Bytes(32, 0x11)) + Frame(1, 7, {0x39, 0x30}));
    const ExchangeResult serial = Exchange(link, CommandCode::ReadSerial);
    EXPECT_EQ(line_->written.back(), Frame(1, 7, {}));
    ASSERT_TRUE(serial.Ok());
    EXPECT_EQ(serial.Payload(), QByteArray("\x39\x30", 2));
    EXPECT_EQ(serial.ErrorText(), QByteArray());

    line_->Reply(Frame(1, 30, Bytes(32, 0x11)));
    line_->Reply(Frame(1, 9, {'A', 0}), 10);
    const ExchangeResult passedOver = Exchange(link, CommandCode::ReadSerial, {}, 60);
    EXPECT_FALSE(passedOver.Ok());
    EXPECT_EQ(passedOver.Cause(), LinkOutcome::WrongReply);
    EXPECT_EQ(passedOver.ErrorText(), QByteArray("RX Error"));
    EXPECT_TRUE(passedOver.Payload().isEmpty());
    EXPECT_EQ(ReplyText(link), QByteArray("\x39\x30", 2)) << "the last reply is still the serial's";
}

// A write goes on at the new address and stops at its first failure: the steps after it are not
// tried; a serial number not asked for is skipped.
TEST_F(LinkFakeTransportTest, AnIdentityWriteStopsAtItsFirstFailure) {
    IdentityChange change;
    change.address = 9;
    change.serial = 0x3039;
    change.comment = "Boiler";
    line_->Reply(Frame(9, 4, {}));
    line_->Reply(Frame(9, 8, {})); // the comment is not answered
    IdentityWriteSteps steps;
    EXPECT_EQ(WriteIdentity(link, change, &steps), QByteArray("RX Error"));
    EXPECT_EQ(steps.address, IdentityStep::Written);
    EXPECT_EQ(steps.serial, IdentityStep::Written);
    EXPECT_EQ(steps.comment, IdentityStep::Failed);
    EXPECT_EQ(steps.cause, LinkOutcome::TimedOut);
    Bytes comment(CommentPayloadSize, 0x20);
    std::copy_n("Boiler", 7, comment.begin());
    EXPECT_EQ(line_->written,
              (std::vector<Bytes>{Frame(1, 4, {0x6E, 0x2B, 9}), Frame(9, 8, {0x39, 0x30}),
                                  Frame(9, 10, comment)}));
    EXPECT_EQ(link.DeviceAddress, 9);

    line_->written.clear();
    change.serial.reset();
    EXPECT_EQ(WriteIdentity(link, change, &steps), QByteArray("RX Error"));
    EXPECT_EQ(line_->written.size(), 1u) << "nothing is sent after the address change failed";
    EXPECT_EQ(steps.address, IdentityStep::Failed);
    EXPECT_EQ(steps.serial, IdentityStep::NotTried);
    EXPECT_EQ(steps.comment, IdentityStep::NotTried);

    line_->Reply(Frame(9, 4, {}));
    line_->Reply(Frame(9, 10, {}));
    EXPECT_EQ(WriteIdentity(link, change, &steps), QByteArray());
    EXPECT_EQ(steps.serial, IdentityStep::Skipped);
    EXPECT_EQ(steps.comment, IdentityStep::Written);
    EXPECT_EQ(steps.cause, LinkOutcome::Ok);
}

// Where an exchange failed (the text the user sees) and why (its cause) travel together.
TEST_F(LinkFakeTransportTest, AnExchangeThatWasNotSentSaysWhy) {
    const ExchangeResult tooLong =
        Exchange(link, CommandCode::WriteComment, Bytes(kTxBufferSize + 1, 0x20));
    EXPECT_EQ(tooLong.ErrorText(), QByteArray("TX Error"));
    EXPECT_EQ(tooLong.Cause(), LinkOutcome::BadRequest);
    EXPECT_TRUE(line_->written.empty()) << "a request longer than TxBuffer is never sent";

    line_->write = TransportResult::Failed;
    const ExchangeResult lost = Exchange(link, CommandCode::ReadAddress);
    EXPECT_EQ(lost.ErrorText(), QByteArray("TX Error"));
    EXPECT_EQ(lost.Cause(), LinkOutcome::PortFailed);

    link.CloseCOM();
    EXPECT_EQ(Exchange(link, CommandCode::ReadAddress).Cause(), LinkOutcome::NotOpen);
}

// An answer of another length than asked is a wrong reply, never 32 bytes of the image.
TEST_F(LinkFakeTransportTest, AFlashBlockOfAnotherLengthIsAWrongReply) {
    line_->Reply(Frame(1, 30, Bytes(16, 0x11)));
    EXPECT_EQ(ReceiveFlashBlock(link, 32).outcome, LinkOutcome::WrongReply);
    ASSERT_EQ(RequestFlashBlock(link, 0x41FE0, 32), LinkOutcome::Ok);
    EXPECT_EQ(line_->written.back(), Frame(1, 30, {0xE0, 0x1F, 0x04, 0x00, 32}));
    line_->Reply(Frame(1, 30, Bytes(32, 0x22)));
    const FlashBlock block = ReceiveFlashBlock(link, 32);
    ASSERT_EQ(block.outcome, LinkOutcome::Ok);
    EXPECT_EQ(Bytes(block.bytes.begin(), block.bytes.end()), Bytes(32, 0x22));
}

TEST_F(LinkFakeTransportTest, PortsThatCannotBeOpenedAreRefused) {
    link.CloseCOM();
    line_->opens = false;
    EXPECT_FALSE(link.AccessCOM("COM1"));
    EXPECT_FALSE(link.OpenCOM("COM1", 115200));
    EXPECT_FALSE(link.TxFrame(1, 3, 0, link.TxBuffer));
    line_->opens = true;
    EXPECT_TRUE(link.AccessCOM("COM1"));
    EXPECT_FALSE(link.TxFrame(1, 3, 0, link.TxBuffer)) << "AccessCOM opens nothing for the link";
}

} // namespace
