#include "FrameCodec.h"
#include "Crc16.h"

#include <gtest/gtest.h>

#include <string_view>

using kv::EncodeFrame;
using kv::FrameDecoder;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Hex(std::string_view text) {
    Bytes out;
    int hi = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

std::vector<kv::Frame> DecodeAll(FrameDecoder& d, const Bytes& bytes) {
    d.Feed(bytes);
    std::vector<kv::Frame> frames;
    while (auto f = d.Next())
        frames.push_back(*f);
    return frames;
}

} // namespace

TEST(Crc16, CheckValueAndKnownFrames) {
    const std::string_view check = "123456789";
    EXPECT_EQ(kv::Crc16Modbus({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0x4B37);
    EXPECT_EQ(kv::Crc16Modbus({}), 0xFFFF);
}

TEST(FrameCodec, EncodesFixedFrames) {
    struct Case {
        std::uint8_t address, command;
        Bytes payload;
        const char* expected;
    };
    // CRCs worked out independently of this code.
    const Case cases[] = {
        {0x01, 0x03, {}, "A5 01 03 00 20 F0"},
        {0x01, 0x1E, {0xE0, 0x1F, 0x04, 0x00, 0x20}, "A5 01 1E 05 E0 1F 04 00 20 B9 88"},
    };
    for (const auto& c : cases) {
        const Bytes frame = EncodeFrame(c.address, c.command, c.payload);
        const Bytes expected = Hex(c.expected);
        EXPECT_EQ(frame, expected);
    }
}

TEST(FrameCodec, RoundTripsEveryPayloadLength) {
    for (int n = 0; n <= 41; ++n) {
        Bytes payload(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xA5 ^ i);
        FrameDecoder d(41);
        auto frames = DecodeAll(d, EncodeFrame(7, 30, payload));
        ASSERT_EQ(frames.size(), 1u) << n;
        EXPECT_EQ(frames[0].address, 7);
        EXPECT_EQ(frames[0].command, 30);
        EXPECT_EQ(frames[0].payload, payload);
    }
}

TEST(FrameCodec, ResynchronisesAfterGarbageFalseStartsAndBadCrc) {
    const Bytes good = EncodeFrame(1, 7, Bytes{0x39, 0x30});
    Bytes bad = EncodeFrame(1, 7, Bytes{0x11, 0x22});
    bad.back() ^= 0xFF;
    Bytes stream = {0x00, 0xFF, 0xA5, 0xA5, 0x13};       // garbage and false starts
    stream.insert(stream.end(), bad.begin(), bad.end()); // a frame with a bad CRC
    stream.push_back(0xA5);                              // a lone start byte
    stream.insert(stream.end(), good.begin(), good.end());

    // Fed all at once and byte by byte, the result is the same single good frame.
    FrameDecoder whole(41);
    auto frames = DecodeAll(whole, stream);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, (Bytes{0x39, 0x30}));

    FrameDecoder bytewise(41);
    std::vector<kv::Frame> got;
    for (std::uint8_t b : stream) {
        bytewise.Feed(std::span(&b, 1));
        while (auto f = bytewise.Next())
            got.push_back(*f);
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, (Bytes{0x39, 0x30}));
}

TEST(FrameCodec, DropsOversizedHeaderWithoutWaitingForItsPayload) {
    const Bytes good = EncodeFrame(1, 30, Bytes(32, 0x55));
    Bytes stream = EncodeFrame(1, 30, Bytes(42, 0x00)); // longer than the 41-byte buffer
    stream.resize(4);                                   // only its header has arrived
    stream.insert(stream.end(), good.begin(), good.end());
    FrameDecoder d(41);
    auto frames = DecodeAll(d, stream);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), 32u);
    EXPECT_GE(d.DroppedFrames(), 1u);
}
