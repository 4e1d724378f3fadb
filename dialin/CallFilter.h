#pragma once

// What a modem sends on its call, with its heartbeats taken off (and its registration, when it
// puts that before every packet): the controller's frames and whatever else came, in order. A
// modem sends a heartbeat whenever its timer says, also between the bytes of an answer; an
// answer's own bytes may hold the same bytes by chance. The frame's CRC decides: a frame that is
// good as it came is given out as it came, and only when it is not, the heartbeats found inside
// it are taken out (fewest first) until it is. Pure: no socket, no clock.
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

    // The most heartbeats taken out of one frame, and the most places inside one frame tried.
    static constexpr int MaxRemovals = 3;
    static constexpr int MaxPlaces = 8;

private:
    enum class Head { Frame, NeedMore, NotAFrame };
    QByteArray Drain(bool flushing);
    // Whether held_ starts with a noise string (taken off) or with part of one (more needed).
    bool TakeNoiseAtHead(bool& needMore);
    Head FrameAtHead(QByteArray& out);

    std::vector<QByteArray> noise_;
    qsizetype longestNoise_ = 0;
    QByteArray held_;
};
