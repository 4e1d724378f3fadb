#include "LossyLine.h"

#include "WindowTestSupport.h"

#include "SerialPassThrough.h"

#include <map>

struct LossyLine::State {
    std::vector<Rule> rules;
    std::map<std::uint8_t, int> seen; // requests per command so far
    std::vector<std::int32_t> openSpeeds;
};

namespace {

class LossyTransport final : public SerialPassThrough {
public:
    explicit LossyTransport(std::shared_ptr<LossyLine::State> state) : state_(std::move(state)) {}

    bool Open(const QString& device, std::int32_t speed) override {
        state_->openSpeeds.push_back(speed);
        return SerialPassThrough::Open(device, speed);
    }

    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override {
        // The link writes one whole frame per call: start byte, address, command, length, ...
        if (bytes.size() >= 4) {
            const std::uint8_t command = bytes[2];
            const int n = ++state_->seen[command];
            for (const LossyLine::Rule& rule : state_->rules) {
                if (rule.command != command || rule.occurrence != n)
                    continue;
                if (rule.fault == LossyLine::Fault::Lost)
                    return TransportResult::Ok;
                return TransportResult::TimedOut;
            }
        }
        return SerialPassThrough::Write(bytes, timeoutMs);
    }

private:
    std::shared_ptr<LossyLine::State> state_;
};

} // namespace

LossyLine::LossyLine(WindowTestBed& bed, std::vector<Rule> rules)
    : bed_(bed), state_(std::make_shared<State>()) {
    state_->rules = std::move(rules);
    auto state = state_;
    bed_.UseLine([state] { return std::make_unique<LossyTransport>(state); });
}

LossyLine::~LossyLine() {
    bed_.UseLine({});
}

const std::vector<std::int32_t>& LossyLine::OpenSpeeds() const {
    return state_->openSpeeds;
}
