#pragma once

// The wire frame, the same in both directions:
//   A5 | address | command | N | N payload bytes | CRC-16/MODBUS over address..payload, low byte
//   first
// Pure functions over bytes: no port, no timer, no global state. Shared by the link and the
// controller simulator.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kv {

constexpr std::uint8_t kFrameStart = 0xA5;
constexpr std::size_t kFrameHeaderSize = 4; // start, address, command, length
constexpr std::size_t kFrameCrcSize = 2;

struct Frame {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::vector<std::uint8_t> payload;
};

// Builds one frame. The payload must hold at most 255 bytes (the length is one byte);
// a longer payload is a caller bug and is cut to 255.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t address, std::uint8_t command,
                                      std::span<const std::uint8_t> payload);

// Incremental decoder. Bytes go in as they arrive; whole frames with a good CRC come out.
// Bytes before a start byte are skipped. A header that declares more than maxPayload bytes is
// dropped as soon as it is read; a frame with a bad CRC is dropped. In both cases the search
// goes on from the byte after the dropped frame's start byte, so a false start byte inside
// garbage never hides a good frame behind it, even when its declared length is not yet in.
class FrameDecoder {
public:
    explicit FrameDecoder(std::size_t maxPayload = 255) : maxPayload_(maxPayload) {}

    void Feed(std::span<const std::uint8_t> bytes);

    // The next complete frame, if the bytes fed so far hold one.
    std::optional<Frame> Next();

    // Counts of what was thrown away, for tests and logs.
    std::size_t DroppedFrames() const { return droppedFrames_; }
    // Bytes skipped while looking for a start byte (resynchronisation), dropped frames' bytes
    // after their start byte included.
    std::size_t SkippedBytes() const { return skippedBytes_; }

    // Called with every dropped candidate as it is dropped: a frame with a bad CRC whole, an
    // oversized header as its four bytes. For the exchange log; unset, it costs nothing.
    using DropObserver = std::function<void(std::span<const std::uint8_t> bytes, bool oversized)>;
    void OnDropped(DropObserver observer) { onDropped_ = std::move(observer); }

    void Reset();

    // The bytes fed and not yet given out or thrown away (what came after the last frame).
    std::span<const std::uint8_t> Pending() const { return pending_; }

private:
    void SkipToStart();
    // Reports the candidates in the first `end` bytes, passed over on the way to a good frame.
    void ReportPassedOver(std::size_t end) const;

    std::size_t maxPayload_;
    std::vector<std::uint8_t> pending_;
    std::size_t droppedFrames_ = 0;
    std::size_t skippedBytes_ = 0;
    DropObserver onDropped_;
};

} // namespace kv
