#include "NewRecords.h"

#include "ArchiveDecoder.h"
#include "ChartSeries.h"
#include "RecordBytes.h"

#include <QHash>
#include <QRandomGenerator64>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr int kSectorRecords = 4096 / ArchiveRecordSize; // an erase clears a 4 KB sector

// What a slot of the ring holds now, measured against the earlier download.
enum class Kind {
    Blank, // no valid record (erased, never written, a power cut)
    Same,  // a valid record, byte for byte the earlier one
    New,   // a valid record newer than the earlier newest one
    Older, // a valid record, not the earlier one, and not newer than the earlier newest one
};

enum class Answer { Yes, No, Stop };

class Run {
public:
    Run(const QByteArray& earlier, int channels, const NewRecordsHooks& hooks)
        : earlier_(earlier), geometry_(GeometryFor(channels)), channels_(channels), hooks_(hooks) {}

    NewRecordsRead Go(std::uint64_t seed);

private:
    struct Channel {
        int first = 0;  // the channel's first block
        int newest = 0; // the earlier newest record's slot
        qint64 newestTime = 0;
        int lastNew = 0;    // after the search: slots 1 .. lastNew after newest were written since
        int changedEnd = 0; // slots 1 .. changedEnd - 1 after newest differ from the earlier ones
    };

    int BlocksPerChannel() const { return geometry_.channelBlockSize / ArchiveRecordSize; }
    int Slot(const Channel& c, int k) const { return (c.newest + k) % geometry_.recordCount; }
    int BlockAfter(const Channel& c, int k) const { return c.first + Slot(c, k); }
    const std::uint8_t* Earlier(int block) const {
        return reinterpret_cast<const std::uint8_t*>(earlier_.constData()) +
               static_cast<qsizetype>(block) * ArchiveRecordSize;
    }
    bool Stopped() const { return failed_ || !doubt_.isEmpty(); }
    void Doubt(int channel, const QString& cause) {
        if (doubt_.isEmpty())
            doubt_ = QStringLiteral("канал %1: %2").arg(channel + 1).arg(cause);
    }

    const QByteArray* Read(int block);
    std::optional<Kind> KindOf(const Channel& c, int k);
    Answer WrittenSince(int channel, const Channel& c, int k);
    bool FindNewest(int channel, Channel& c);
    bool ReadChanged(int channel, Channel& c);
    bool InChanged(int block) const;

    const QByteArray& earlier_;
    ArchiveGeometry geometry_;
    int channels_;
    const NewRecordsHooks& hooks_;
    std::vector<Channel> channelsState_;
    QHash<int, QByteArray> read_;
    bool failed_ = false;
    QString doubt_;
};

const QByteArray* Run::Read(int block) {
    if (failed_)
        return nullptr;
    if (const auto it = read_.constFind(block); it != read_.constEnd())
        return &*it;
    std::optional<QByteArray> bytes = hooks_.read(block);
    if (!bytes || bytes->size() != ArchiveRecordSize) {
        failed_ = true;
        return nullptr;
    }
    return &*read_.insert(block, std::move(*bytes));
}

std::optional<Kind> Run::KindOf(const Channel& c, int k) {
    const int block = BlockAfter(c, k);
    const QByteArray* now = Read(block);
    if (!now)
        return std::nullopt;
    const auto* p = reinterpret_cast<const std::uint8_t*>(now->constData());
    const std::optional<long long> time = ChartRecordTime(p);
    if (UInt32At(p, 28) != DataRecordMarker || !time)
        return Kind::Blank;
    if (std::equal(p, p + ArchiveRecordSize, Earlier(block)))
        return Kind::Same;
    return *time > c.newestTime ? Kind::New : Kind::Older;
}

// Whether slot k after the earlier newest one lies in what was written since: a blank slot is
// judged by the first valid record after it.
Answer Run::WrittenSince(int channel, const Channel& c, int k) {
    for (int j = k; j < geometry_.recordCount; ++j) {
        const std::optional<Kind> kind = KindOf(c, j);
        if (!kind)
            return Answer::Stop;
        switch (*kind) {
        case Kind::Blank:
            continue;
        case Kind::New:
            return Answer::Yes;
        case Kind::Same:
            return Answer::No;
        case Kind::Older:
            Doubt(channel, QStringLiteral("запись после прежней новейшей старше её "
                                          "(часы регулятора переведены назад или это другой "
                                          "регулятор)"));
            return Answer::Stop;
        }
    }
    return Answer::No;
}

bool Run::FindNewest(int channel, Channel& c) {
    c.first = channel * BlocksPerChannel();
    bool any = false;
    for (int slot = 0; slot < geometry_.recordCount; ++slot) {
        const std::uint8_t* p = Earlier(c.first + slot);
        if (UInt32At(p, 28) != DataRecordMarker)
            continue;
        const std::optional<long long> time = ChartRecordTime(p);
        if (time && (!any || *time > c.newestTime)) {
            any = true;
            c.newest = slot;
            c.newestTime = *time;
        }
    }
    if (!any) {
        Doubt(channel, QStringLiteral("в прежнем чтении нет записей"));
        return false;
    }
    // The earlier ring must run in time order from the slot after its newest record: a clock set
    // back there would make its newest record no write position at all.
    qint64 previous = 0;
    bool started = false;
    for (int k = 1; k < geometry_.recordCount; ++k) {
        const std::uint8_t* p = Earlier(c.first + Slot(c, k));
        const std::optional<long long> time = ChartRecordTime(p);
        if (UInt32At(p, 28) != DataRecordMarker || !time)
            continue;
        if (started && *time <= previous) {
            Doubt(channel, QStringLiteral("в прежнем чтении время записей идёт назад"));
            return false;
        }
        started = true;
        previous = *time;
    }
    // What was written since is a run of slots from the one after the earlier newest record:
    // find its last slot by halving.
    int lo = 0, hi = geometry_.recordCount;
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        const Answer a = WrittenSince(channel, c, mid);
        if (a == Answer::Stop)
            return false;
        (a == Answer::Yes ? lo : hi) = mid;
    }
    c.lastNew = lo;
    if (c.lastNew == geometry_.recordCount - 1) {
        Doubt(channel, QStringLiteral("перерыв дольше, чем вмещает память"));
        return false;
    }
    return true;
}

bool Run::ReadChanged(int channel, Channel& c) {
    qint64 previous = c.newestTime;
    for (int k = 1; k <= c.lastNew; ++k) {
        const std::optional<Kind> kind = KindOf(c, k);
        if (!kind)
            return false;
        if (*kind == Kind::Blank)
            continue;
        if (*kind == Kind::Same) {
            Doubt(channel, QStringLiteral("положение записи не найдено"));
            return false;
        }
        const auto time = *ChartRecordTime(
            reinterpret_cast<const std::uint8_t*>(read_.value(BlockAfter(c, k)).constData()));
        if (*kind == Kind::Older || time <= previous) {
            Doubt(channel, QStringLiteral("время записей идёт назад (часы регулятора "
                                          "переведены назад)"));
            return false;
        }
        previous = time;
    }
    // The erased stretch ahead of the write position, up to the first record as it was.
    int k = c.lastNew + 1;
    for (; k < geometry_.recordCount; ++k) {
        const std::optional<Kind> kind = KindOf(c, k);
        if (!kind)
            return false;
        if (*kind == Kind::Same)
            break;
        if (*kind != Kind::Blank) {
            Doubt(channel, QStringLiteral("положение записи не найдено"));
            return false;
        }
    }
    c.changedEnd = k;
    return true;
}

bool Run::InChanged(int block) const {
    const int channel = block / BlocksPerChannel();
    const Channel& c = channelsState_[static_cast<std::size_t>(channel)];
    const int slot = block - c.first;
    if (slot >= geometry_.recordCount)
        return true; // the settings area is always read
    const int k = (slot - c.newest + geometry_.recordCount) % geometry_.recordCount;
    return k >= 1 && k < c.changedEnd;
}

NewRecordsRead Run::Go(std::uint64_t seed) {
    NewRecordsRead result;
    if (earlier_.size() != ArchiveSize || geometry_.recordCount == 0) {
        result.doubt = QStringLiteral("прежнее чтение неполное");
        return result;
    }
    channelsState_.resize(static_cast<std::size_t>(channels_));
    for (int ch = 0; ch < channels_ && !Stopped(); ++ch)
        FindNewest(ch, channelsState_[static_cast<std::size_t>(ch)]);

    if (!Stopped() && hooks_.onPlanned) {
        // The erased stretch is expected to end at its sector's end.
        qsizetype planned = read_.size();
        for (const Channel& c : channelsState_) {
            const int wp = Slot(c, c.lastNew + 1);
            const int sectorEnd =
                std::min(geometry_.recordCount, (wp / kSectorRecords + 1) * kSectorRecords);
            planned += c.lastNew + (sectorEnd - wp) + 1 + SettingsBlockCount + 4;
        }
        hooks_.onPlanned(static_cast<int>(planned) + NewRecordsSampleSize);
    }

    for (int ch = 0; ch < channels_ && !Stopped(); ++ch) {
        Channel& c = channelsState_[static_cast<std::size_t>(ch)];
        if (!ReadChanged(ch, c))
            break;
        for (int b = 0; b < SettingsBlockCount && !Stopped(); ++b)
            Read(c.first + geometry_.recordCount + b);
        // The earlier newest record, the one before it and the ring's ends.
        for (const int block : {BlockAfter(c, 0), BlockAfter(c, geometry_.recordCount - 1), c.first,
                                c.first + geometry_.recordCount - 1})
            if (!Stopped())
                Read(block);
    }

    if (!Stopped()) {
        std::vector<int> candidates;
        for (int block = 0; block < ArchiveBlockCount; ++block)
            if (!InChanged(block) && !read_.contains(block))
                candidates.push_back(block);
        QRandomGenerator64 random(seed);
        const auto count = std::min<std::size_t>(NewRecordsSampleSize, candidates.size());
        for (std::size_t i = 0; i < count && !Stopped(); ++i) {
            std::swap(candidates[i],
                      candidates[i + random.bounded(static_cast<quint64>(candidates.size() - i))]);
            Read(candidates[i]);
        }
    }

    // Every block read outside what changed must be as the earlier download holds it.
    if (!Stopped()) {
        for (auto it = read_.constBegin(); it != read_.constEnd(); ++it) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(it.value().constData());
            if (!InChanged(it.key()) && !std::equal(p, p + ArchiveRecordSize, Earlier(it.key()))) {
                Doubt(it.key() / BlocksPerChannel(),
                      QStringLiteral("проверенный блок %1 не совпадает с прежним чтением")
                          .arg(it.key()));
                break;
            }
        }
    }

    result.blocksRead = static_cast<int>(read_.size());
    result.failed = failed_;
    if (Stopped()) {
        result.doubt = failed_ ? QString() : doubt_;
        return result;
    }
    result.image = earlier_;
    for (auto it = read_.constBegin(); it != read_.constEnd(); ++it)
        result.image.replace(static_cast<qsizetype>(it.key()) * ArchiveRecordSize,
                             ArchiveRecordSize, it.value());
    if (hooks_.onPlanned)
        hooks_.onPlanned(result.blocksRead);
    return result;
}

} // namespace

NewRecordsRead ReadNewRecords(const QByteArray& earlier, int channelCount,
                              const NewRecordsHooks& hooks, std::uint64_t sampleSeed) {
    Run run(earlier, channelCount, hooks);
    return run.Go(sampleSeed);
}
