#pragma once

// What a modem sends on its call, with its heartbeats taken off (and its registration, when it
// puts that before every packet): the controller's frames and whatever else came, in order. A
// modem sends a heartbeat whenever its timer says, also between the bytes of an answer; an
// answer's own bytes may hold the same bytes by chance. The frame's CRC decides: the heartbeats
// found inside a frame are taken out (all of them, then all but the last, and so on, the frame as
// it came last), and the first way whose CRC is good is the frame. Pure: no socket, no clock.
//
// Bytes that are no frame pass through unchanged (the link skips them as it skips noise on a
// line); what may still become a frame is held until its bytes are in, or until Flush.

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

class CallFilter {
public:
    // noise: the byte strings taken off the stream (empty ones are ignored).
    explicit CallFilter(std::vector<QByteArray> noise);

    // Takes the bytes as they came; returns those that are final now.
    QByteArray Feed(QByteArrayView bytes);
    // The call went quiet: what is held waiting for the rest of a frame is given out as it is
    // (noise at its head still taken off, a partial noise at its end kept back).
    QByteArray Flush();
    // Whether bytes are held back.
    bool Holding() const { return !held_.isEmpty(); }
    void Reset() { held_.clear(); }

    // The most places inside one frame where noise is looked at (a registration before each of
    // many small packets), and the most ways of taking it out tried for one frame: first none,
    // then all, then all but one, and so on.
    static constexpr int MaxPlaces = 32;
    static constexpr int MaxTries = 512;

private:
    enum class Head { Frame, NeedMore, NotAFrame };
    QByteArray Drain(bool flushing);
    // Whether held_ starts with a noise string (taken off) or with part of one (more needed).
    bool TakeNoiseAtHead(bool& needMore);
    // flushing: no more bytes will come.
    Head FrameAtHead(QByteArray& out, bool flushing);

    std::vector<QByteArray> noise_;
    qsizetype longestNoise_ = 0;
    QByteArray held_;
};
