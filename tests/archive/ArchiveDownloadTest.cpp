// The download against the controller simulator over a real pseudo-terminal.

#include "ArchiveDownload.h"
#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "CommandCode.h"
#include "FrameLink.h"
#include "LinkTransport.h"
#include "MappedPorts.h"
#include "PortMap.h"
#include "SerialPassThrough.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

namespace {

// Payload of the flash read of the block at `offset`: offset LSB first, then 32.
QString RequestPayload(std::uint32_t offset) {
    return QString::asprintf("%02X%02X%02X%02X20", offset & 0xFF, (offset >> 8) & 0xFF,
                             (offset >> 16) & 0xFF, offset >> 24);
}

QString NumberList(const std::vector<int>& numbers) {
    QStringList parts;
    for (int n : numbers)
        parts << QString::number(n);
    return parts.join(QLatin1Char(','));
}

// What the hooks of one run saw.
struct Recorder {
    int events = 0;
    std::vector<int> progress;
    std::vector<int> tx, rx;
    int cancelAfterEvents = -1; // -1: never cancel
    int callsAfterCancel = 0;
    bool cancelSeen = false;

    DownloadHooks Hooks() {
        DownloadHooks h;
        h.processEvents = [this] {
            callsAfterCancel += cancelSeen;
            ++events;
        };
        h.onTxFailures = [this](int n) {
            callsAfterCancel += cancelSeen;
            tx.push_back(n);
        };
        h.onRxFailures = [this](int n) {
            callsAfterCancel += cancelSeen;
            rx.push_back(n);
        };
        h.onProgress = [this](int offset) {
            callsAfterCancel += cancelSeen;
            progress.push_back(offset);
        };
        h.cancelled = [this] {
            cancelSeen = cancelAfterEvents >= 0 && events > cancelAfterEvents;
            return cancelSeen;
        };
        return h;
    }
};

// The simulator's port, except that chosen flash reads are reported as not sent although their
// bytes did go out: the port said "failed" and the controller answers anyway.
class WriteReportedFailed final : public SerialPassThrough {
public:
    explicit WriteReportedFailed(std::set<int> reads) : reads_(std::move(reads)) {}
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override {
        const TransportResult r = SerialPassThrough::Write(bytes, timeoutMs);
        const bool flashRead = bytes.size() > 2 && bytes[2] == CodeByte(CommandCode::ReadFlash);
        if (flashRead && reads_.count(++flashReads_))
            return TransportResult::TimedOut;
        return r;
    }

private:
    std::set<int> reads_;
    int flashReads_ = 0;
};

// A port that tells of a line gone only at the next write, as the serial ports of some systems
// do: its reads find nothing instead of failing.
class HangUpSeenAtWrite final : public SerialPassThrough {
public:
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override {
        const TransportResult r = SerialPassThrough::Read(into, timeoutMs);
        return r == TransportResult::Failed ? TransportResult::TimedOut : r;
    }
};

class DownloadAgainstSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtCoreApp(); // the serial port wants an application object
        ASSERT_TRUE(dir_.isValid());
        served_ = testimage::FullImage(2);
        imagePath_ = dir_.filePath(QStringLiteral("archive.bin"));
        logPath_ = dir_.filePath(QStringLiteral("sim.log"));
        QFile f(imagePath_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(served_), served_.size());
        f.close();
    }

    void TearDown() override { link.CloseCOM(); }

    // Starts the simulator serving the image, with extra fault options, and opens it as COM1.
    void Connect(const QStringList& extra = {}) {
        QStringList args{QStringLiteral("--image"), imagePath_, QStringLiteral("--log"), logPath_};
        args += extra;
        sim_ = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim_->Running());
        link.SetPortMap(MappedPorts({{1, sim_->Device()}}));
        ASSERT_TRUE(link.OpenCOM("COM1", 115200));
        ASSERT_TRUE(link.SetModeCOM(3, 0));
        link.DeviceAddress = 1;
    }

    // The flash read requests the simulator received, answered or not, in order.
    std::vector<QJsonObject> FlashReads() {
        sim_->Stop(); // the log is complete once the simulator has ended
        std::vector<QJsonObject> reads;
        for (const QJsonObject& line : ReadSimLog(logPath_))
            if (line.value(QStringLiteral("dir")).toString() == QLatin1String("rx") &&
                line.value(QStringLiteral("command")).toInt() == 30)
                reads.push_back(line);
        return reads;
    }

    static QString Payload(const QJsonObject& o) {
        return o.value(QStringLiteral("payload")).toString();
    }

    QTemporaryDir dir_;
    QByteArray served_;
    QString imagePath_, logPath_;
    std::unique_ptr<SimProcess> sim_;
    FrameLink link;
};

} // namespace

TEST_F(DownloadAgainstSimulator, FaultFreeRunsReadEveryBlockInOrderAndRestartAtZero) {
    Connect();
    for (int run = 0; run < 2; ++run) {
        Recorder rec;
        const DownloadResult r = DownloadArchive(link, rec.Hooks());
        ASSERT_EQ(r.outcome, DownloadOutcome::Completed) << run;
        EXPECT_EQ(r.image.size(), ArchiveSize);
        EXPECT_TRUE(r.image == served_) << run;
        EXPECT_EQ(r.txFailures + r.rxFailures, 0);
        EXPECT_EQ(rec.events, FlashBlockCount);
        ASSERT_EQ(rec.progress.size(), static_cast<std::size_t>(FlashBlockCount));
        for (int i = 0; i < FlashBlockCount; ++i)
            ASSERT_EQ(rec.progress[i], 32 * (i + 1)) << i;
    }

    const std::vector<QJsonObject> reads = FlashReads();
    ASSERT_EQ(reads.size(), 2u * FlashBlockCount);
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const auto offset = static_cast<std::uint32_t>(32 * (i % FlashBlockCount));
        ASSERT_EQ(Payload(reads[i]), RequestPayload(offset)) << i;
        ASSERT_EQ(reads[i].value(QStringLiteral("address")).toInt(), 1) << i;
    }
    EXPECT_EQ(Payload(reads[FlashBlockCount - 1]), "E01F040020");
    EXPECT_EQ(Payload(reads[FlashBlockCount]), "0000000020"); // the second run starts at 0
}

TEST_F(DownloadAgainstSimulator, ShortAnswersAreAskedAgainUntilTheTwentyFirstAborts) {
    // Twenty short answers spread over the run, two of them for the same block: retried, the
    // image is still exact.
    const std::vector<int> twenty{1,    2,    500,  1000, 1500, 2000, 2500, 3000, 3500, 4000,
                                  4500, 5000, 5500, 6000, 6500, 7000, 7500, 8000, 8400, 8467};
    // Twenty failures are the most a run survives: a read a loaded machine times out on top
    // ends it, so the run is tried again (a fault of the count fails every time).
    Recorder rec;
    DownloadResult r;
    for (int attempt = 0; attempt < 3; ++attempt) {
        link.CloseCOM();
        Connect({QStringLiteral("--short"), NumberList(twenty)});
        rec = Recorder();
        r = DownloadArchive(link, rec.Hooks());
        if (r.outcome == DownloadOutcome::Completed)
            break;
    }
    ASSERT_EQ(r.outcome, DownloadOutcome::Completed);
    EXPECT_TRUE(r.image == served_);
    EXPECT_EQ(r.rxFailures, 20);
    EXPECT_EQ(rec.rx.size(), 20u);
    EXPECT_EQ(rec.progress.back(), ArchiveSize);
    EXPECT_EQ(rec.events, FlashBlockCount); // no message pass between retries of one block

    const std::vector<QJsonObject> reads = FlashReads();
    ASSERT_EQ(reads.size(), static_cast<std::size_t>(FlashBlockCount + 20));
    for (int n : twenty) // the read after a short answer asks for the same block
        EXPECT_EQ(Payload(reads[n]), Payload(reads[n - 1])) << n;
    EXPECT_EQ(Payload(reads.back()), "E01F040020");
}

TEST_F(DownloadAgainstSimulator, TwentyFirstShortAnswerAbortsWithRxError) {
    std::vector<int> numbers;
    for (int i = 0; i < 21; ++i)
        numbers.push_back(100 + 400 * i);
    Connect({QStringLiteral("--short"), NumberList(numbers)});
    Recorder rec;
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    EXPECT_EQ(r.outcome, DownloadOutcome::RxError);
    EXPECT_EQ(r.lastFailure, LinkOutcome::WrongReply);
    EXPECT_TRUE(r.image.isEmpty());
    EXPECT_EQ(r.rxFailures, 21);
    // The 21st is read number 8100, the block after the 8079 completed before it. A loaded
    // machine may time out a read or two more, which count as well: the run then ends at an
    // earlier short answer, still the block after those completed before it.
    const int reads = static_cast<int>(FlashReads().size());
    EXPECT_TRUE(std::find(numbers.end() - 3, numbers.end(), reads) != numbers.end()) << reads;
    EXPECT_EQ(rec.progress.back(), 32 * (reads - 21));
}

TEST_F(DownloadAgainstSimulator, DroppedAnswersCountOverTheWholeRun) {
    // One drop in each of 21 different blocks: no block fails twice, yet the 21st aborts.
    std::vector<int> numbers;
    for (int i = 0; i < 21; ++i)
        numbers.push_back(300 + 390 * i);
    Connect({QStringLiteral("--drop"), NumberList(numbers)});
    Recorder rec;
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    EXPECT_EQ(r.outcome, DownloadOutcome::RxError);
    EXPECT_EQ(r.lastFailure, LinkOutcome::TimedOut);
    EXPECT_EQ(r.rxFailures, 21);
    EXPECT_EQ(r.txFailures, 0);
    ASSERT_EQ(rec.rx.size(), 21u);
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(rec.rx[i], i + 1);
    // Each of the 20 blocks that failed before the last was checked once after it came (a read
    // of another length). A loaded machine may time out a read or two more, which count as
    // well: the run then ends before the 21st drop, by the same count.
    const std::vector<QJsonObject> reads = FlashReads();
    EXPECT_LE(reads.size(), static_cast<std::size_t>(numbers.back()));
    EXPECT_EQ(rec.progress.back(), 32 * (static_cast<int>(reads.size()) - 21 - 20));
    for (int n : numbers) { // each dropped request was asked again
        if (n < static_cast<int>(reads.size())) {
            EXPECT_EQ(Payload(reads[n]), Payload(reads[n - 1]));
        }
    }
}

TEST_F(DownloadAgainstSimulator, GarbageBetweenAnswersLeavesTheImageExact) {
    Connect({QStringLiteral("--garbage")});
    Recorder rec;
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    ASSERT_EQ(r.outcome, DownloadOutcome::Completed);
    EXPECT_TRUE(r.image == served_);
}

TEST_F(DownloadAgainstSimulator, LineGoingAwayAbortsWithoutHanging) {
    Connect({QStringLiteral("--die-after"), QStringLiteral("3000")});
    Recorder rec;
    QElapsedTimer t;
    t.start();
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    EXPECT_TRUE(r.outcome == DownloadOutcome::TxError || r.outcome == DownloadOutcome::RxError);
    EXPECT_EQ(r.lastFailure, LinkOutcome::PortFailed) << "a lost port, not a time-out";
    EXPECT_TRUE(r.image.isEmpty());
    EXPECT_EQ(rec.progress.back(), 32 * 2999);
    // The run ends where the line went: the failures are not counted on against a lost port.
    EXPECT_LE(r.txFailures + r.rxFailures, 2);
    EXPECT_LT(t.elapsed(), 15000);
}

// A pulled cable ends the run at once with the message the counts come to (every later exchange
// failing both ways): the same whether the system tells it at the read or at the next write.
TEST_F(DownloadAgainstSimulator, ALineLostSaysTheSameWhereverTheSystemTellsIt) {
    for (const bool atWrite : {false, true}) {
        if (atWrite)
            link.SetTransportFactory([] { return std::make_unique<HangUpSeenAtWrite>(); });
        Connect({QStringLiteral("--die-after"), QStringLiteral("3000")});
        const DownloadResult r = DownloadArchive(link, {});
        EXPECT_EQ(r.outcome, DownloadOutcome::RxError) << atWrite;
        EXPECT_EQ(r.lastFailure, LinkOutcome::PortFailed) << atWrite;
        EXPECT_LE(r.txFailures + r.rxFailures, 2) << atWrite;
    }
}

TEST_F(DownloadAgainstSimulator, CancelledRunStopsAtItsNextBlock) {
    Connect();
    Recorder rec;
    rec.cancelAfterEvents = 100;
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    EXPECT_EQ(r.outcome, DownloadOutcome::Cancelled);
    EXPECT_TRUE(r.image.isEmpty());
    EXPECT_EQ(rec.callsAfterCancel, 0);
    EXPECT_EQ(rec.progress.size(), 100u);
    // The 101st request was already on the line while the messages were handled; none after.
    EXPECT_EQ(FlashReads().size(), 101u);
}

TEST(DownloadWithoutPort, TransmissionLimitIsTestedBeforeReception) {
    // With no port both the transmission and the reception fail in every exchange; both
    // counters reach 21 in the same exchange and the transmission error wins.
    FrameLink link;
    Recorder rec;
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    EXPECT_EQ(r.outcome, DownloadOutcome::TxError);
    EXPECT_EQ(r.lastFailure, LinkOutcome::NotOpen);
    EXPECT_EQ(r.txFailures, 21);
    EXPECT_EQ(r.rxFailures, 20);
    EXPECT_TRUE(rec.progress.empty());
    EXPECT_EQ(rec.events, 1); // all 21 exchanges ask for the first block
}

TEST_F(DownloadAgainstSimulator, LateAnswersOfAnyDelayAreNeverTakenForALaterBlock) {
    // An answer later than its time-out comes while its block is asked again, and the answer to
    // that asking follows on its own: neither may pass for a later block, whatever the delay
    // (one time-out, or two for the longest).
    for (const char* lateMs : {"210", "260", "450"}) {
        Connect({QStringLiteral("--late"), QStringLiteral("5,4000,8448"),
                 QStringLiteral("--late-ms"), QLatin1String(lateMs)});
        Recorder rec;
        const DownloadResult r = DownloadArchive(link, rec.Hooks());
        ASSERT_EQ(r.outcome, DownloadOutcome::Completed) << lateMs;
        EXPECT_GE(r.rxFailures, 3) << lateMs;
        EXPECT_TRUE(r.image == served_) << lateMs;
        // Each late block was asked again and then checked, in a read of another length at the
        // same offset, before the next block (a loaded machine may time out a few more).
        int blockReads = 0;
        std::vector<QString> checks;
        for (const QJsonObject& read : FlashReads()) {
            if (Payload(read).endsWith(QLatin1String("20")))
                ++blockReads;
            else
                checks.push_back(Payload(read).left(8));
        }
        EXPECT_GE(blockReads, FlashBlockCount + 3) << lateMs;
        EXPECT_GE(checks.size(), 3u) << lateMs;
        EXPECT_NE(std::find(checks.begin(), checks.end(), RequestPayload(4 * 32).left(8)),
                  checks.end())
            << lateMs;
    }
}

TEST_F(DownloadAgainstSimulator, FailedTransmissionsCountButTheAnswerStillCompletesTheBlock) {
    // Reads 1, 401, ... 8001 are reported as not sent, yet answered: each block completes with
    // its answer. The 21st such report aborts with a transmission error although its answer
    // would have come, because that limit is tested before the reception.
    std::set<int> reads;
    for (int i = 0; i < 21; ++i)
        reads.insert(1 + 400 * i);
    link.SetTransportFactory([reads] { return std::make_unique<WriteReportedFailed>(reads); });
    Connect();
    Recorder rec;
    const DownloadResult r = DownloadArchive(link, rec.Hooks());
    EXPECT_EQ(r.outcome, DownloadOutcome::TxError);
    EXPECT_EQ(r.txFailures, 21);
    EXPECT_EQ(r.rxFailures, 0);
    ASSERT_EQ(rec.tx.size(), 21u);
    EXPECT_EQ(rec.tx.back(), 21);
    EXPECT_EQ(rec.progress.back(), 32 * 8000); // every earlier block completed at once
    EXPECT_EQ(FlashReads().size(), 8001u);     // none of them was asked for twice

    // Twenty such reports over a whole run: the image is exact.
    reads.erase(8001);
    link.SetTransportFactory([reads] { return std::make_unique<WriteReportedFailed>(reads); });
    Connect();
    Recorder full;
    const DownloadResult done = DownloadArchive(link, full.Hooks());
    ASSERT_EQ(done.outcome, DownloadOutcome::Completed);
    EXPECT_EQ(done.txFailures, 20);
    EXPECT_LE(done.rxFailures, 2); // none but what a loaded machine may time out
    EXPECT_TRUE(done.image == served_);
}
