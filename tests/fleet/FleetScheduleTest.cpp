// The collection's scheduling through its seams: a clock that moves on at once to the end of
// every pause the collection waits for, and lines that never reach a controller. Tries come after
// 2 s and 4 s, several addresses on one line are read in turn, and a port that names nothing
// fails at once.

#include "FleetCollection.h"
#include "MappedPorts.h"
#include "SerialTransport.h"

#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class JumpingClock final : public FleetClock {
public:
    TimePoint Now() override {
        const std::lock_guard<std::mutex> guard(lock_);
        return now_;
    }
    void WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>&,
                   TimePoint until) override {
        const std::lock_guard<std::mutex> guard(lock_);
        now_ = std::max(now_, until);
    }
    double Seconds(TimePoint t) const { return std::chrono::duration<double>(t - start_).count(); }

private:
    std::mutex lock_;
    const TimePoint start_{};
    TimePoint now_{};
};

// What the lines saw: each request with its device, the address asked and the clock's time, and
// whether two reads ever had one device at once.
struct LineLog {
    std::mutex lock;
    std::map<std::pair<QString, int>, std::vector<double>> asked;
    int opens = 0;
    std::map<QString, int> openNow;
    bool overlapped = false;
};

// A line that opens and fails at the first request, so that no controller is found on it: a
// failed try that takes no time at all.
class DeadLine final : public SerialTransport {
public:
    DeadLine(std::shared_ptr<LineLog> log, std::shared_ptr<JumpingClock> clock)
        : log_(std::move(log)), clock_(std::move(clock)) {}
    ~DeadLine() override {
        const std::lock_guard<std::mutex> guard(log_->lock);
        if (!device_.isEmpty())
            --log_->openNow[device_];
    }
    bool Open(const QString& device, std::int32_t) override {
        {
            const std::lock_guard<std::mutex> guard(log_->lock);
            device_ = device;
            ++log_->opens;
            log_->overlapped = log_->overlapped || ++log_->openNow[device] > 1;
        }
        std::this_thread::yield(); // room for a second reader, were the line not kept for one
        return true;
    }
    bool SetMode8N1() override { return true; }
    TransportResult DiscardInput() override { return TransportResult::Ok; }
    TransportResult Write(std::span<const std::uint8_t> frame, int) override {
        const std::lock_guard<std::mutex> guard(log_->lock);
        log_->asked[{device_, frame[1]}].push_back(clock_->Seconds(clock_->Now()));
        return TransportResult::Failed;
    }
    TransportResult Read(std::vector<std::uint8_t>&, int) override {
        return TransportResult::Failed;
    }

private:
    std::shared_ptr<LineLog> log_;
    std::shared_ptr<JumpingClock> clock_;
    QString device_;
};

TEST(FleetSchedule, TriesAfterTwoAndFourSecondsAndOneReadOfALineAtATime) {
    QTemporaryDir dir;
    auto clock = std::make_shared<JumpingClock>();
    auto log = std::make_shared<LineLog>();
    FleetOptions options;
    options.ports = MappedPorts(
        {{1, QStringLiteral("/dev/shared-line")}, {2, QStringLiteral("/dev/own-line")}});
    options.transport = [log, clock] { return std::make_unique<DeadLine>(log, clock); };
    options.clock = clock;
    options.archivesFolder = dir.path();
    options.jobs = 8;
    // Three controllers on one line at addresses 1 to 3 (one written "com1"), one alone.
    const std::vector<FleetEntry> entries = {{2, QStringLiteral("COM1"), 1, QStringLiteral("a")},
                                             {3, QStringLiteral("com1"), 2, QStringLiteral("b")},
                                             {4, QStringLiteral("COM1"), 3, QStringLiteral("c")},
                                             {5, QStringLiteral("COM2"), 1, QStringLiteral("d")}};
    std::vector<int> startedTries(entries.size());
    FleetHooks hooks;
    hooks.onStarted = [&](int index, int tryNumber) {
        startedTries[static_cast<std::size_t>(index)] = tryNumber;
    };
    const std::vector<FleetResult> results = CollectFleet(entries, options, hooks);

    ASSERT_EQ(results.size(), entries.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].outcome, FleetOutcome::Failed) << i;
        EXPECT_EQ(results[i].tries, 3) << i;
        EXPECT_EQ(startedTries[i], 3) << i;
        EXPECT_EQ(results[i].cause, QStringLiteral("%1: регулятор не обнаружен (адрес %2)")
                                        .arg(entries[i].port)
                                        .arg(entries[i].address));
    }
    EXPECT_FALSE(log->overlapped) << "two reads had one line at once";
    // Every controller's tries no sooner than its pauses (2 s, then 4 s more), the shared line
    // reading the others meanwhile. The clock is one for all lines and jumps to the end of any
    // line's pause, so a pause may look longer than it was, never shorter.
    const std::pair<QString, int> lines[] = {{QStringLiteral("/dev/own-line"), 1},
                                             {QStringLiteral("/dev/shared-line"), 1},
                                             {QStringLiteral("/dev/shared-line"), 2},
                                             {QStringLiteral("/dev/shared-line"), 3}};
    for (const auto& line : lines) {
        const std::vector<double>& tries = log->asked[line];
        ASSERT_EQ(tries.size(), 3u) << line.first.toStdString() << line.second;
        EXPECT_GE(tries[1] - tries[0], 2.0) << line.first.toStdString() << line.second;
        EXPECT_GE(tries[2] - tries[1], 4.0) << line.first.toStdString() << line.second;
    }
    EXPECT_EQ(log->opens, 12);
}

// A number naming nothing fails at once with the refusal, without a try on any line.
TEST(FleetSchedule, APortNamingNothingFailsOnceWithItsCause) {
    QTemporaryDir dir;
    auto clock = std::make_shared<JumpingClock>();
    auto log = std::make_shared<LineLog>();
    FleetOptions options;
    options.ports = MappedPorts({}, {{4, QStringLiteral("запись не принята")}});
    options.transport = [log, clock] { return std::make_unique<DeadLine>(log, clock); };
    options.clock = clock;
    options.archivesFolder = dir.path();
    const std::vector<FleetResult> results = CollectFleet(
        {{2, QStringLiteral("COM4"), 1, {}}, {3, QStringLiteral("COM5"), 1, {}}}, options);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].cause, QStringLiteral("COM4: запись не принята"));
    EXPECT_EQ(results[1].cause, QStringLiteral("COM5: порту не назначено устройство"));
    EXPECT_EQ(results[0].tries, 1);
    EXPECT_EQ(log->opens, 0);
}

} // namespace
