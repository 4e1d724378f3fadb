#include "SimFaults.h"

#include "CommandCode.h"
#include "SimController.h"

#include <utility>

namespace sim {

const char* FaultDecision::Name() const {
    if (die)
        return "die";
    if (drop)
        return "drop";
    if (shortAnswer && late)
        return "short,late";
    if (shortAnswer)
        return "short";
    if (late)
        return "late";
    return "";
}

SimFaults::SimFaults(FaultOptions options, std::uint32_t seed)
    : options_(std::move(options)), rng_(seed) {}

FaultDecision SimFaults::ForRequest(const kv::Frame& request) {
    FaultDecision d;
    ++requests_;
    if (options_.dropEvery > 0 && requests_ % options_.dropEvery == 0)
        d.drop = true;
    if (request.command != CodeByte(CommandCode::ReadFlash))
        return d;
    const int n = ++flashReads_;
    d.die = options_.dieAfter > 0 && n == options_.dieAfter;
    d.drop = d.drop || options_.drop.contains(n);
    d.shortAnswer = options_.shortReads.contains(n);
    d.late = options_.late.contains(n);
    return d;
}

std::vector<std::uint8_t> SimFaults::NoiseBefore(const std::vector<std::uint8_t>& answer) {
    if (!options_.garbage)
        return {};
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> count(1, 6);
    for (;;) {
        std::vector<std::uint8_t> noise;
        for (int i = count(rng_); i > 0; --i)
            noise.push_back(static_cast<std::uint8_t>(byte(rng_)));
        // A false start byte with a short header, as a line glitch would give.
        noise.push_back(kv::kFrameStart);
        noise.push_back(static_cast<std::uint8_t>(byte(rng_)));
        // A frame with a broken CRC.
        std::vector<std::uint8_t> payload(static_cast<std::size_t>(count(rng_)));
        for (auto& b : payload)
            b = static_cast<std::uint8_t>(byte(rng_));
        auto broken = kv::EncodeFrame(static_cast<std::uint8_t>(byte(rng_)),
                                      CodeByte(CommandCode::ReadFlash), payload);
        broken.back() ^= 0x5A;
        noise.insert(noise.end(), broken.begin(), broken.end());
        for (int i = count(rng_); i > 0; --i)
            noise.push_back(static_cast<std::uint8_t>(byte(rng_)));

        // Random bytes can make a good frame by chance; such noise is thrown away.
        std::vector<std::uint8_t> line = noise;
        line.insert(line.end(), answer.begin(), answer.end());
        kv::FrameDecoder decoder(41);
        decoder.Feed(line);
        const auto first = decoder.Next();
        if (first && kv::EncodeFrame(first->address, first->command, first->payload) == answer)
            return noise;
    }
}

} // namespace sim
