#include "FrameCodec.h"

#include "Crc16.h"

#include <algorithm>

namespace kv {

std::vector<std::uint8_t> EncodeFrame(std::uint8_t address, std::uint8_t command,
                                      std::span<const std::uint8_t> payload) {
    const std::size_t n = std::min<std::size_t>(payload.size(), 255);
    std::vector<std::uint8_t> out;
    out.reserve(kFrameHeaderSize + n + kFrameCrcSize);
    out.push_back(kFrameStart);
    out.push_back(address);
    out.push_back(command);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    const std::uint16_t crc = Crc16Modbus(std::span(out).subspan(1));
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    return out;
}

void FrameDecoder::Feed(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

void FrameDecoder::SkipToStart() {
    auto it = std::find(pending_.begin(), pending_.end(), kFrameStart);
    skippedBytes_ += static_cast<std::size_t>(it - pending_.begin());
    pending_.erase(pending_.begin(), it);
}

void FrameDecoder::ReportPassedOver(std::size_t end) const {
    // Candidates before a good frame that were not dropped one by one: every complete one was
    // bad, or the good frame would have come first.
    for (std::size_t j = 0; j + kFrameHeaderSize <= end; ++j) {
        if (pending_[j] != kFrameStart)
            continue;
        const std::size_t n = pending_[j + 3];
        const std::size_t total = kFrameHeaderSize + n + kFrameCrcSize;
        if (n > maxPayload_)
            onDropped_(std::span(pending_).subspan(j, kFrameHeaderSize), true);
        else if (j + total <= end)
            onDropped_(std::span(pending_).subspan(j, total), false);
    }
}

std::optional<Frame> FrameDecoder::Next() {
    SkipToStart();
    // Candidates are tried from the first start byte on. A candidate at the front that is
    // oversized or has a bad CRC is dropped. A candidate still incomplete does not block the
    // search: a false start byte just before a real frame may declare a length that swallows
    // the real frame, and waiting for its bytes would let the reply time out.
    std::size_t i = 0;
    while (i + kFrameHeaderSize <= pending_.size()) {
        if (pending_[i] != kFrameStart) {
            ++i;
            continue;
        }
        const std::size_t n = pending_[i + 3];
        const std::size_t total = kFrameHeaderSize + n + kFrameCrcSize;
        bool bad = n > maxPayload_;
        if (!bad && pending_.size() - i >= total) {
            const std::uint16_t crc =
                Crc16Modbus(std::span(pending_).subspan(i + 1, kFrameHeaderSize - 1 + n));
            const std::uint16_t sent = static_cast<std::uint16_t>(
                pending_[i + kFrameHeaderSize + n] | (pending_[i + kFrameHeaderSize + n + 1] << 8));
            if (crc == sent) {
                Frame frame;
                frame.address = pending_[i + 1];
                frame.command = pending_[i + 2];
                if (onDropped_)
                    ReportPassedOver(i);
                skippedBytes_ += i;
                const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(i);
                frame.payload.assign(first + kFrameHeaderSize,
                                     first + static_cast<std::ptrdiff_t>(kFrameHeaderSize + n));
                pending_.erase(pending_.begin(), first + static_cast<std::ptrdiff_t>(total));
                return frame;
            }
            bad = true;
        }
        if (bad && i == 0) {
            ++droppedFrames_;
            if (onDropped_)
                onDropped_(std::span(pending_).first(n > maxPayload_ ? kFrameHeaderSize : total),
                           n > maxPayload_);
            pending_.erase(pending_.begin());
            SkipToStart();
            continue;
        }
        ++i;
    }
    return std::nullopt;
}

void FrameDecoder::Reset() {
    pending_.clear();
}

} // namespace kv
