#include "CallFilter.h"

#include "Crc16.h"
#include "FrameCodec.h"

#include <algorithm>

namespace {

struct Place {
    qsizetype at;
    qsizetype size;
};

// The frame that the bytes give with the places in `removed` taken out, when a whole frame with
// a good CRC comes of them; consumed says how many of the bytes it took.
bool TryFrame(const QByteArray& bytes, const std::vector<Place>& removed, QByteArray& frame,
              qsizetype& consumed, bool& needMore) {
    frame.clear();
    qsizetype i = 0;
    std::size_t next = 0;
    qsizetype total = -1;
    while (total < 0 || frame.size() < total) {
        if (next < removed.size() && i == removed[next].at) {
            i += removed[next].size;
            ++next;
            continue;
        }
        if (i >= bytes.size()) {
            needMore = true;
            return false;
        }
        frame.append(bytes[i++]);
        if (frame.size() == static_cast<qsizetype>(kv::kFrameHeaderSize))
            total = static_cast<qsizetype>(kv::kFrameHeaderSize + kv::kFrameCrcSize) +
                    static_cast<std::uint8_t>(frame[3]);
    }
    // A place taken out must lie inside the frame, not after it.
    if (next < removed.size())
        return false;
    consumed = i;
    const auto* data = reinterpret_cast<const std::uint8_t*>(frame.constData());
    const std::size_t body = static_cast<std::size_t>(frame.size()) - kv::kFrameCrcSize;
    const std::uint16_t crc = kv::Crc16Modbus(std::span(data + 1, body - 1));
    return data[body] == (crc & 0xFF) && data[body + 1] == (crc >> 8);
}

// Calls f with choices of the places that do not overlap: none, then all, then all but one and so
// on, at most tries of them; stops when f returns true. Noise before every packet is all noise;
// an answer whose own bytes hold a heartbeat keeps that one.
template <typename F> bool EachChoice(const std::vector<Place>& places, int tries, F&& f) {
    std::vector<Place> chosen;
    const int n = static_cast<int>(places.size());
    if (f(chosen))
        return true;
    for (int size = n; size >= 1 && tries > 0; --size) {
        std::vector<int> index(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i)
            index[static_cast<std::size_t>(i)] = i;
        for (; tries > 0; --tries) {
            chosen.clear();
            bool overlapping = false;
            for (const int i : index) {
                const Place& p = places[static_cast<std::size_t>(i)];
                overlapping |= !chosen.empty() && chosen.back().at + chosen.back().size > p.at;
                chosen.push_back(p);
            }
            if (!overlapping && f(chosen))
                return true;
            int i = size - 1;
            while (i >= 0 && index[static_cast<std::size_t>(i)] == n - size + i)
                --i;
            if (i < 0)
                break;
            ++index[static_cast<std::size_t>(i)];
            for (int j = i + 1; j < size; ++j)
                index[static_cast<std::size_t>(j)] = index[static_cast<std::size_t>(j - 1)] + 1;
        }
    }
    return false;
}

} // namespace

CallFilter::CallFilter(std::vector<QByteArray> noise) {
    for (QByteArray& n : noise)
        if (!n.isEmpty()) {
            longestNoise_ = std::max(longestNoise_, n.size());
            noise_.push_back(std::move(n));
        }
}

QByteArray CallFilter::Feed(QByteArrayView bytes) {
    held_.append(bytes);
    return Drain(false);
}

QByteArray CallFilter::Flush() {
    return Drain(true);
}

bool CallFilter::TakeNoiseAtHead(bool& needMore) {
    for (const QByteArray& n : noise_) {
        if (held_.startsWith(n)) {
            held_.remove(0, n.size());
            return true;
        }
        if (held_.size() < n.size() && n.startsWith(held_))
            needMore = true;
    }
    return false;
}

CallFilter::Head CallFilter::FrameAtHead(QByteArray& out) {
    // The places where noise lies within the longest span a frame and its heartbeats can take.
    const qsizetype span = static_cast<qsizetype>(kv::kFrameHeaderSize + 255 + kv::kFrameCrcSize) +
                           MaxPlaces * longestNoise_;
    std::vector<Place> places;
    bool partialNoise = false;
    for (qsizetype at = 1;
         at < std::min(held_.size(), span) && static_cast<int>(places.size()) < MaxPlaces;) {
        bool found = false;
        for (const QByteArray& n : noise_) {
            const QByteArrayView rest = QByteArrayView(held_).sliced(at);
            if (rest.startsWith(n)) {
                places.push_back({at, n.size()});
                at += n.size();
                found = true;
                break;
            }
            partialNoise |= rest.size() < n.size() && QByteArrayView(n).startsWith(rest);
        }
        if (!found)
            ++at;
    }
    bool needMore = partialNoise;
    QByteArray frame;
    qsizetype consumed = 0;
    const bool good = EachChoice(places, MaxTries, [&](const std::vector<Place>& removed) {
        return TryFrame(held_, removed, frame, consumed, needMore);
    });
    if (good) {
        out.append(frame);
        held_.remove(0, consumed);
        return Head::Frame;
    }
    return needMore ? Head::NeedMore : Head::NotAFrame;
}

QByteArray CallFilter::Drain(bool flushing) {
    QByteArray out;
    while (!held_.isEmpty()) {
        bool noiseNeedsMore = false;
        if (static_cast<std::uint8_t>(held_[0]) == kv::kFrameStart) {
            const Head head = FrameAtHead(out);
            if (head == Head::Frame)
                continue;
            if (head == Head::NeedMore && !flushing)
                break;
        }
        if (TakeNoiseAtHead(noiseNeedsMore))
            continue;
        if (noiseNeedsMore && !flushing)
            break;
        if (noiseNeedsMore && flushing && static_cast<std::uint8_t>(held_[0]) != kv::kFrameStart)
            break; // the start of a heartbeat whose rest is still on its way
        out.append(held_[0]);
        held_.remove(0, 1);
    }
    return out;
}
