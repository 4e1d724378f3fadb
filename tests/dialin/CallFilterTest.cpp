// The filter that takes a modem's heartbeats off its call, with frames made by the real codec.

#include "CallFilter.h"
#include "FrameCodec.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

QByteArray Frame(std::uint8_t command, const QByteArray& payload) {
    const auto bytes =
        kv::EncodeFrame(1, command,
                        std::span(reinterpret_cast<const std::uint8_t*>(payload.constData()),
                                  static_cast<std::size_t>(payload.size())));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

const QByteArray kBeat = QByteArrayLiteral("KVHB");

TEST(CallFilter, HeartbeatsAreTakenOffBetweenAndInsideFramesWhereverTheyFall) {
    // A fixed plan of frames of every length, each with up to two heartbeats at random places
    // (the header included), heartbeats between them, fed in random pieces.
    std::mt19937 random(20261210);
    QByteArray wire;
    QByteArray expected;
    for (int n = 0; n < 300; ++n) {
        QByteArray payload;
        const int length = static_cast<int>(random() % 256);
        for (int i = 0; i < length; ++i)
            payload.append(static_cast<char>(random() % 256));
        const QByteArray frame = Frame(static_cast<std::uint8_t>(0x10 + n % 7), payload);
        expected += frame;
        // Places between two of the frame's bytes, taken from the last so that none falls
        // inside another heartbeat (a modem sends its heartbeat whole).
        std::vector<qsizetype> places;
        for (int b = static_cast<int>(random() % 3); b > 0; --b)
            places.push_back(1 + static_cast<qsizetype>(random() % (frame.size() - 1)));
        std::sort(places.rbegin(), places.rend());
        QByteArray sent = frame;
        for (const qsizetype at : places)
            sent.insert(at, kBeat);
        if (random() % 4 == 0)
            wire += kBeat;
        wire += sent;
    }
    CallFilter filter({kBeat});
    QByteArray out;
    for (qsizetype at = 0; at < wire.size();) {
        const qsizetype piece = 1 + static_cast<qsizetype>(random() % 40);
        out += filter.Feed(QByteArrayView(wire).sliced(at, std::min(piece, wire.size() - at)));
        at += piece;
    }
    out += filter.Flush();
    qsizetype differ = 0;
    while (differ < std::min(out.size(), expected.size()) && out[differ] == expected[differ])
        ++differ;
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_EQ(differ, expected.size()) << out.mid(differ - 8, 40).toHex(' ').toStdString() << "\n"
                                       << expected.mid(differ - 8, 40).toHex(' ').toStdString();
}

TEST(CallFilter, AFrameThatHoldsTheHeartbeatsBytesIsNeverCut) {
    // The answer's own data holds the heartbeat's bytes: the frame is good as it came, once no
    // more bytes come that would make it good with them taken out (or once the next ones prove
    // they do not).
    const QByteArray frame = Frame(0x20, QByteArrayLiteral("xxKVHByyKVHB"));
    CallFilter filter({kBeat});
    EXPECT_EQ(filter.Feed(frame), QByteArray());
    EXPECT_EQ(filter.Flush(), frame);
    EXPECT_EQ(filter.Feed(frame + frame), frame);
    EXPECT_EQ(filter.Flush(), frame);
    // And with a real heartbeat inside it as well, only that one goes.
    QByteArray sent = frame;
    sent.insert(5, kBeat);
    QByteArray out = filter.Feed(sent);
    out += filter.Flush();
    EXPECT_EQ(out, frame);
}

TEST(CallFilter, ARegistrationBeforeEveryPacketIsTakenOffLikeAHeartbeat) {
    const QByteArray id = QByteArrayLiteral("KV0042");
    const QByteArray frame = Frame(0x21, QByteArray(200, 'a'));
    QByteArray wire;
    for (qsizetype at = 0; at < frame.size(); at += 64) // packets of 64 bytes, each named
        wire += id + frame.mid(at, 64);
    wire += id + kBeat;
    CallFilter filter({kBeat, id});
    EXPECT_EQ(filter.Feed(wire), frame);
    EXPECT_FALSE(filter.Holding());
}

TEST(CallFilter, WhatIsNoFrameGoesThroughUnchanged) {
    CallFilter filter({kBeat});
    // Noise before a frame passes (the link skips it); a start byte whose frame never comes
    // is held until the call goes quiet, then given out as it came.
    const QByteArray frame = Frame(0x22, QByteArrayLiteral("ok"));
    EXPECT_EQ(filter.Feed(QByteArrayLiteral("\x01\x02") + frame),
              QByteArrayLiteral("\x01\x02") + frame);
    const QByteArray broken = QByteArrayLiteral("\xA5\x01\x22\x10zz");
    EXPECT_EQ(filter.Feed(broken), QByteArray());
    EXPECT_TRUE(filter.Holding());
    EXPECT_EQ(filter.Flush(), broken);
    // A damaged frame (its CRC wrong with or without the heartbeats) is given out unchanged
    // once all of it is in, so that the link counts it as the damaged answer it is.
    QByteArray damaged = Frame(0x23, QByteArray(40, 'b'));
    damaged[10] = 'c';
    QByteArray sent = damaged;
    sent.insert(8, kBeat);
    QByteArray expected = sent;
    expected.remove(8, kBeat.size());
    QByteArray out = filter.Feed(sent + QByteArray(300, '\0'));
    out += filter.Flush();
    EXPECT_TRUE(out.startsWith(damaged.left(8))) << out.toHex().toStdString();
    // A heartbeat whose last bytes are still on their way is not given out in part.
    EXPECT_EQ(filter.Feed(QByteArrayLiteral("KV")), QByteArray());
    EXPECT_EQ(filter.Flush(), QByteArray());
    EXPECT_EQ(filter.Feed(QByteArrayLiteral("HB")), QByteArray());
}

} // namespace
