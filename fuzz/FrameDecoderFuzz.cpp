// fuzz_frame_decoder: line bytes in arbitrary chunks, through the frame decoder alone and through
// the link's RxFrame over a stream that delivers the same chunks. Every frame that comes out
// re-encodes to bytes that were on the line, in line order; no payload is longer than the 41
// bytes of the receive buffer; RxFrame writes nothing past the reply's length. Every candidate
// passed over is reported, to the decoder's observer and to the link's trace, as bytes that were
// on the line: a frame with a bad CRC whole, an oversized header as its four bytes.

#include "Crc16.h"
#include "FrameCodec.h"
#include "FrameLink.h"
#include "FrameTrace.h"
#include "FuzzCheck.h"
#include "InputChunks.h"
#include "LinkTransport.h"
#include "PortMap.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace {

using Chunks = std::vector<std::span<const std::uint8_t>>;

// The line as the link sees it: the input's chunks one Read at a time, then a failed device, so
// that RxFrame returns at once instead of waiting for its time-out.
class ChunkedLine : public LinkTransport {
public:
    static inline const Chunks* chunks = nullptr;
    static inline std::size_t next = 0;

    bool Open(const QString&, std::int32_t) override { return true; }
    bool SetMode8N1() override { return true; }
    TransportResult DiscardInput() override { return TransportResult::Ok; }
    TransportResult Write(std::span<const std::uint8_t>, int) override {
        return TransportResult::Ok;
    }
    TransportResult Read(std::vector<std::uint8_t>& into, int) override {
        if (!chunks || next >= chunks->size())
            return TransportResult::Failed;
        const auto chunk = (*chunks)[next++];
        into.insert(into.end(), chunk.begin(), chunk.end());
        return TransportResult::Ok;
    }
};

// Finds the frame's encoding in the line at or after `from`; returns the offset just past it.
std::size_t FindOnLine(std::span<const std::uint8_t> line, std::size_t from, std::uint8_t address,
                       std::uint8_t command, std::span<const std::uint8_t> payload) {
    const auto encoded = kv::EncodeFrame(address, command, payload);
    const auto at = std::search(line.begin() + static_cast<std::ptrdiff_t>(from), line.end(),
                                encoded.begin(), encoded.end());
    KV_FUZZ_CHECK(at != line.end());
    return static_cast<std::size_t>(at - line.begin()) + encoded.size();
}

// A dropped candidate as the decoder reports it: on the line, with a start byte, and either an
// oversized header or a whole frame whose CRC does not match.
void CheckDropped(std::span<const std::uint8_t> line, std::span<const std::uint8_t> bytes,
                  bool oversized) {
    KV_FUZZ_CHECK(bytes.size() >= kv::kFrameHeaderSize && bytes[0] == kv::kFrameStart);
    const std::size_t n = bytes[3];
    if (oversized) {
        KV_FUZZ_CHECK(bytes.size() == kv::kFrameHeaderSize && n > kRxBufferSize);
    } else {
        KV_FUZZ_CHECK(n <= kRxBufferSize &&
                      bytes.size() == kv::kFrameHeaderSize + n + kv::kFrameCrcSize);
        const std::uint16_t sent =
            static_cast<std::uint16_t>(bytes[bytes.size() - 2] | (bytes[bytes.size() - 1] << 8));
        KV_FUZZ_CHECK(kv::Crc16Modbus(bytes.subspan(1, kv::kFrameHeaderSize - 1 + n)) != sent);
    }
    KV_FUZZ_CHECK(std::search(line.begin(), line.end(), bytes.begin(), bytes.end()) != line.end());
}

// The link's trace: frames dropped on the way are checked as the decoder's are.
class CheckingTrace : public FrameTrace {
public:
    explicit CheckingTrace(std::span<const std::uint8_t> line) : line_(line) {}
    void FrameSent(const TracedFrame&) override {}
    void FrameReceived(const TracedFrame& frame) override {
        KV_FUZZ_CHECK(frame.payload.size() <= kRxBufferSize);
        if (frame.crcGood)
            return;
        KV_FUZZ_CHECK(frame.oversized == (frame.length > kRxBufferSize));
        KV_FUZZ_CHECK(frame.oversized ? frame.payload.empty()
                                      : frame.payload.size() == frame.length);
    }
    void BytesSkipped(std::size_t count) override { KV_FUZZ_CHECK(count <= line_.size()); }
    void ReplyTimedOut(int) override {}
    void PortFailed() override {}

private:
    std::span<const std::uint8_t> line_;
};

void CheckDecoder(std::span<const std::uint8_t> line, const Chunks& chunks) {
    kv::FrameDecoder decoder(kRxBufferSize);
    decoder.OnDropped([line](std::span<const std::uint8_t> bytes, bool oversized) {
        CheckDropped(line, bytes, oversized);
    });
    std::size_t consumed = 0;
    for (const auto& chunk : chunks) {
        decoder.Feed(chunk);
        while (auto frame = decoder.Next()) {
            KV_FUZZ_CHECK(frame->payload.size() <= kRxBufferSize);
            consumed = FindOnLine(line, consumed, frame->address, frame->command, frame->payload);
        }
    }
}

void CheckRxFrame(std::span<const std::uint8_t> line, const Chunks& chunks) {
    ChunkedLine::chunks = &chunks;
    ChunkedLine::next = 0;
    FrameLink link(PortMap({{1, QStringLiteral("fuzz-line")}}, {}, [] { return QStringList(); }),
                   [] { return std::make_unique<ChunkedLine>(); });
    KV_FUZZ_CHECK(link.OpenCOM("COM1", 115200));
    CheckingTrace trace(line);
    link.SetTrace(&trace);
    constexpr std::uint8_t kUnwritten = 0xCD;
    constexpr std::size_t kGuard = 16;
    std::array<std::uint8_t, kRxBufferSize + kGuard> buffer;
    std::size_t consumed = 0;
    for (;;) {
        buffer.fill(kUnwritten);
        std::uint8_t address = 0, command = 0, length = 0;
        if (!link.RxFrame(1000, &address, &command, &length, buffer.data()))
            break;
        KV_FUZZ_CHECK(length <= kRxBufferSize);
        KV_FUZZ_CHECK(std::all_of(buffer.begin() + length, buffer.end(),
                                  [](std::uint8_t b) { return b == kUnwritten; }));
        consumed = FindOnLine(line, consumed, address, command, std::span(buffer.data(), length));
    }
    link.SetTrace(nullptr);
    link.CloseCOM();
    ChunkedLine::chunks = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Chunks chunks = InputChunks(data, size);
    const std::span<const std::uint8_t> line =
        size > 0 ? std::span(data + 1, size - 1) : std::span<const std::uint8_t>();
    CheckDecoder(line, chunks);
    CheckRxFrame(line, chunks);
    return 0;
}
