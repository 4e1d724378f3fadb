#include "CallFilter.h"

#include "Crc16.h"
#include "FrameCodec.h"

#include <algorithm>

namespace {

struct Place {
    qsizetype at;
    qsizetype size;
};

bool CrcGood(const QByteArray& frame) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(frame.constData());
    const std::size_t body = static_cast<std::size_t>(frame.size()) - kv::kFrameCrcSize;
    const std::uint16_t crc = kv::Crc16Modbus(std::span(data + 1, body - 1));
    return data[body] == (crc & 0xFF) && data[body + 1] == (crc >> 8);
}

// The search for the frame at the head of the bytes: each place of noise inside it taken out or
// kept as the frame's own bytes, depth first with taking out first (noise before every packet is
// all noise; an answer whose own bytes hold a heartbeat keeps that one when the CRC says so), so
// that every place taken out comes first and every place kept, the frame as it came, last.
// Places after the frame's end are never reached. At most `tries` ways are followed to their end
// (a whole frame checked, or the bytes run out).
struct FrameSearch {
    FrameSearch(const QByteArray& b, const std::vector<Place>& p, int t, bool f)
        : bytes(b), places(p), tries(t), final(f) {}
    const QByteArray& bytes;
    const std::vector<Place>& places;
    int tries;
    bool final; // no more bytes will come
    bool needMore = false;
    QByteArray frame;
    qsizetype consumed = 0;

    // From byte i of the bytes and place p on, with the frame's bytes so far.
    bool From(qsizetype i, std::size_t p, QByteArray built, bool removing) {
        for (;;) {
            const qsizetype total =
                built.size() >= static_cast<qsizetype>(kv::kFrameHeaderSize)
                    ? static_cast<qsizetype>(kv::kFrameHeaderSize + kv::kFrameCrcSize) +
                          static_cast<std::uint8_t>(built[3])
                    : -1;
            if (total >= 0 && built.size() == total) {
                --tries;
                if (!CrcGood(built))
                    return false;
                if (needMore && !final) {
                    // A way that takes out more noise still waits for its bytes: this one, which
                    // keeps some, may be good by the CRC's chance alone until that one fails (or
                    // the call goes quiet: no more bytes come).
                    tries = 0;
                    return false;
                }
                frame = std::move(built);
                consumed = i;
                return true;
            }
            if (i >= bytes.size()) { // the rest of this frame is still on its way
                --tries;
                needMore = true;
                return false;
            }
            if (removing && p < places.size() && places[p].at == i) {
                const Place place = places[p];
                if (From(i + place.size, p + 1, built, true))
                    return true;
                if (tries <= 0)
                    return false;
                ++p; // and the noise kept as the frame's own bytes
            }
            built.append(bytes[i++]);
        }
    }
};

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

CallFilter::Head CallFilter::FrameAtHead(QByteArray& out, bool flushing) {
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
    // Noise taken out first, the frame as it came last: a frame that came with noise inside has
    // its CRC good as it came once in 65,536 by chance, and would then be taken with the noise in
    // its data (a registration before every packet gave one such block in each download).
    FrameSearch search(held_, places, MaxTries, flushing);
    const bool good = search.From(0, 0, {}, true);
    if (good) {
        out.append(search.frame);
        held_.remove(0, search.consumed);
        return Head::Frame;
    }
    return partialNoise || search.needMore ? Head::NeedMore : Head::NotAFrame;
}

QByteArray CallFilter::Drain(bool flushing) {
    QByteArray out;
    while (!held_.isEmpty()) {
        bool noiseNeedsMore = false;
        if (static_cast<std::uint8_t>(held_[0]) == kv::kFrameStart) {
            const Head head = FrameAtHead(out, flushing);
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
