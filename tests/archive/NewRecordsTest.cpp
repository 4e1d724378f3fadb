// Reading only what changed, at its seam with the controller (a block reader over a memory the
// test makes as the controller logs): what it takes from the controller, the image it gives, and
// each doubt that sends the caller to the whole archive. No link, no simulator, no clock.

#include "NewRecords.h"

#include "ArchiveImageBuilder.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace {

const QDateTime kStart(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);

// A controller's flash as it logs: each channel writes one record per half hour round its ring,
// and erases the 4 KB sector it enters before writing there. salt sets the values a controller
// logs apart from another's.
class Memory {
public:
    Memory(int channels, int salt)
        : channels_(channels), salt_(salt), geometry_(GeometryFor(channels)),
          image_(testimage::ErasedImage()), next_(static_cast<std::size_t>(channels), 0) {
        for (int ch = 0; ch < channels; ++ch)
            for (int b = 0; b < SettingsBlockCount; ++b)
                testimage::Place(image_, SettingsOffset(ch, b),
                                 testimage::Encode(testimage::SampleSettings(salt + ch * 4 + b)));
    }

    // Logs count records on each channel; a power cut leaves the slots blank (never written).
    void Log(int count, bool powerCut = false) {
        for (int i = 0; i < count; ++i) {
            for (int ch = 0; ch < channels_; ++ch) {
                int& slot = next_[static_cast<std::size_t>(ch)];
                if (slot % 128 == 0) // a new sector: erased first
                    for (int s = slot; s < std::min(slot + 128, geometry_.recordCount); ++s)
                        testimage::Place(image_, RecordOffset(ch, s), Erased());
                if (!powerCut)
                    testimage::Place(image_, RecordOffset(ch, slot), RecordAt(ch));
                slot = (slot + 1) % geometry_.recordCount;
            }
            clock_ = clock_.addSecs(1800);
        }
    }
    void SetClock(const QDateTime& at) { clock_ = at; }
    const QDateTime& Clock() const { return clock_; }
    void ChangeSettings(int channel) {
        testimage::Place(image_, SettingsOffset(channel, 1),
                         testimage::Encode(testimage::SampleSettings(salt_ + 77)));
    }
    // The slot the next record of channel 0 goes to.
    int Next() const { return next_[0]; }
    int RecordOffset(int channel, int slot) const {
        return channel * geometry_.channelBlockSize + slot * ArchiveRecordSize;
    }
    const QByteArray& Image() const { return image_; }
    QByteArray& Image() { return image_; }

private:
    int SettingsOffset(int channel, int block) const {
        return channel * geometry_.channelBlockSize + geometry_.recordAreaSize +
               block * ArchiveRecordSize;
    }
    static testimage::Bytes32 Erased() {
        testimage::Bytes32 b;
        b.fill(0xFF);
        return b;
    }
    testimage::Bytes32 RecordAt(int channel) const {
        testimage::Record r = testimage::SampleRecord(salt_ + channel * 10000);
        const QDate d = clock_.date();
        const QTime t = clock_.time();
        r.sec = testimage::Bcd(t.second());
        r.min = testimage::Bcd(t.minute());
        r.hour = testimage::Bcd(t.hour());
        r.day = testimage::Bcd(d.day());
        r.month = testimage::Bcd(d.month());
        r.year = testimage::Bcd(d.year() % 100);
        r.tenths[0] = static_cast<std::int16_t>(kStart.secsTo(clock_) / 1800 % 1000);
        return testimage::Encode(r);
    }

    int channels_, salt_;
    ArchiveGeometry geometry_;
    QByteArray image_;
    std::vector<int> next_;
    QDateTime clock_ = kStart;
};

// The controller's side of the seam: every block from its memory now. A block asked twice fails
// the test; failAt ends the run at that many blocks.
struct Reader {
    explicit Reader(QByteArray memory) : now(std::move(memory)) {}

    QByteArray now;
    std::set<int> asked;
    int failAt = -1;

    NewRecordsRead Run(const QByteArray& earlier, int channels, std::uint64_t seed = 5) {
        NewRecordsHooks hooks;
        hooks.read = [this](int block) -> std::optional<QByteArray> {
            EXPECT_TRUE(asked.insert(block).second) << "block " << block << " asked again";
            if (static_cast<int>(asked.size()) == failAt)
                return std::nullopt;
            return now.mid(static_cast<qsizetype>(block) * ArchiveRecordSize, ArchiveRecordSize);
        };
        int planned = -1;
        hooks.onPlanned = [&planned](int total) { planned = total; };
        NewRecordsRead read = ReadNewRecords(earlier, channels, hooks, seed);
        if (!read.failed) {
            EXPECT_EQ(read.blocksRead, static_cast<int>(asked.size()));
        }
        if (!read.image.isEmpty()) {
            EXPECT_EQ(planned, read.blocksRead); // the bar ends full
        }
        return read;
    }
};

} // namespace

// A revisit takes only what was written since, whatever happened in between that a controller
// does on its own, and gives the controller's whole memory as it is now.
TEST(NewRecordsTest, ReadsOnlyWhatWasWrittenSinceAndGivesTheMemoryAsItIsNow) {
    struct Case {
        const char* name;
        int channels;
        int before; // records logged before the earlier download
        void (*since)(Memory&);
        int written; // slots per channel written since; 0: no bound but the whole archive
    };
    constexpr int kLaps = 2 * 4220; // a controller in service: its ring went round twice
    const Case cases[] = {
        {"nothing new", 2, kLaps + 300, [](Memory&) {}, 1},
        {"a day", 2, kLaps + 300, [](Memory& m) { m.Log(48); }, 48},
        {"one channel, a week", 1, 2 * 8444 + 1000, [](Memory& m) { m.Log(336); }, 336},
        {"the ring wraps round since", 2, kLaps + 4200, [](Memory& m) { m.Log(60); }, 60},
        {"a power cut", 2, kLaps + 500,
         [](Memory& m) {
             m.Log(10);
             m.Log(3, true);
             m.Log(10);
         },
         23},
        {"settings changed", 2, kLaps + 300,
         [](Memory& m) {
             m.Log(5);
             m.ChangeSettings(1);
         },
         5},
        {"a young controller, its ring not yet full", 2, 300, [](Memory& m) { m.Log(48); }, 0},
        {"almost a whole ring", 2, kLaps + 500, [](Memory& m) { m.Log(4000); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Memory memory(c.channels, 1);
        memory.Log(c.before);
        const QByteArray earlier = memory.Image();
        c.since(memory);
        Reader reader(memory.Image());
        const NewRecordsRead read = reader.Run(earlier, c.channels);
        EXPECT_FALSE(read.failed);
        EXPECT_EQ(read.doubt, QString());
        EXPECT_TRUE(read.image == memory.Image());
        // What was written since, the erased sector ahead of it, and a few hundred blocks to
        // find it and check the rest.
        EXPECT_LT(read.blocksRead,
                  c.written > 0 ? c.channels * (c.written + 128) + 200 : ArchiveBlockCount)
            << read.blocksRead;
    }
}

// Whatever puts the earlier download in doubt gives no image but a cause, before the whole
// archive would be read; a reader that fails gives neither.
TEST(NewRecordsTest, EveryDoubtGivesACauseAndNoImage) {
    struct Case {
        const char* name;
        void (*make)(Memory& earlier, Memory& now);
        const char* cause; // a word of the cause; null: any cause
    };
    const Case cases[] = {
        {"an earlier channel without records",
         [](Memory& e, Memory& n) {
             e = Memory(2, 1);
             n.Log(10);
         },
         "нет записей"},
        {"the clock set back since",
         [](Memory&, Memory& n) {
             n.SetClock(n.Clock().addDays(-2));
             n.Log(20);
         },
         "часы"},
        {"the clock set back before",
         [](Memory& e, Memory& n) {
             e.SetClock(e.Clock().addDays(-3));
             e.Log(300);
             n = e;
             n.Log(5);
         },
         "прежнем чтении время"},
        {"longer away than the ring holds", [](Memory&, Memory& n) { n.Log(4220 + 30); },
         "перерыв"},
        {"the record before the newest changed",
         [](Memory& e, Memory& n) {
             n.Log(5);
             n.Image()[n.RecordOffset(1, (e.Next() + 4218) % 4220) + 9] ^= 1;
         },
         "не совпадает"},
        {"the ring's first slot changed",
         [](Memory&, Memory& n) {
             n.Log(5);
             n.Image()[n.RecordOffset(0, 0) + 12] ^= 1;
         },
         "не совпадает"},
        {"another controller, its clock behind",
         [](Memory&, Memory& n) {
             n = Memory(2, 500);
             n.Log(700);
         },
         nullptr},
        {"another controller, its clock ahead",
         [](Memory&, Memory& n) {
             n = Memory(2, 500);
             n.SetClock(kStart.addYears(1));
             n.Log(2 * 4220 + 900);
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Memory earlier(2, 1);
        earlier.Log(2 * 4220 + 600); // its next record goes to slot 600
        Memory now = earlier;
        c.make(earlier, now);
        Reader reader(now.Image());
        const NewRecordsRead read = reader.Run(earlier.Image(), 2);
        EXPECT_FALSE(read.failed);
        EXPECT_TRUE(read.image.isEmpty());
        if (c.cause)
            EXPECT_TRUE(read.doubt.contains(QString::fromUtf8(c.cause)))
                << read.doubt.toStdString();
        else
            EXPECT_FALSE(read.doubt.isEmpty());
        EXPECT_LT(read.blocksRead, ArchiveBlockCount / 4);
    }

    // An earlier download cut short is no start; a reader that fails ends the run at once.
    Memory memory(2, 1);
    memory.Log(600);
    Reader reader(memory.Image());
    EXPECT_FALSE(reader.Run(memory.Image().left(ArchiveSize - 32), 2).doubt.isEmpty());
    EXPECT_TRUE(reader.asked.empty());
    reader.failAt = 3;
    const NewRecordsRead failed = reader.Run(memory.Image(), 2);
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.doubt, QString());
    EXPECT_TRUE(failed.image.isEmpty());
    EXPECT_EQ(reader.asked.size(), 3u);
}
