#pragma once

// Faults the simulator injects on request, so that tests can see the link and the download cope
// with a controller that misbehaves.

#include "FrameCodec.h"

#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace sim {

struct FaultOptions {
    std::set<int> drop;       // flash reads (numbered from 1, retries counted) left unanswered
    std::set<int> shortReads; // flash reads answered with 16 bytes only
    std::set<int> late;       // flash reads answered late, lateMs after they came
    int lateMs = 300;         // how late
    int dropEvery = 0;        // every Kth request of any kind is left unanswered
    int dieAfter = 0;         // this flash read is not answered and the line goes away
    bool garbage = false;     // noise and false frames before every answer
};

struct FaultDecision {
    bool drop = false;
    bool shortAnswer = false;
    bool late = false;
    bool die = false;
    const char* Name() const; // for the log: "drop", "short", "late", "short,late", "die", ""
};

constexpr int kShortAnswerBytes = 16;

class SimFaults {
public:
    explicit SimFaults(FaultOptions options, std::uint32_t seed = 1);

    // What happens to a request addressed to this controller. Counts requests and flash reads.
    FaultDecision ForRequest(const kv::Frame& request);

    // Noise to put on the line before an answer when garbage is on, otherwise nothing. The noise
    // holds false start bytes and frames with bad CRCs and never decodes into a frame of its own,
    // whatever follows it.
    std::vector<std::uint8_t> NoiseBefore(const std::vector<std::uint8_t>& answer);

    int LateMs() const { return options_.lateMs; }

private:
    FaultOptions options_;
    int requests_ = 0;
    int flashReads_ = 0;
    std::mt19937 rng_;
};

} // namespace sim
