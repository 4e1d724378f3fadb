#pragma once

// A serial line that loses chosen requests: the link talks to the real port (the simulator's
// pseudo-terminal) through it, and a request matching a rule is either not delivered (the
// controller never hears it, so no answer comes: "RX Error") or refused by the port at once
// ("TX Error"). Every other byte passes unchanged. The line of the windows the bed opens for the
// life of the object.

#include "LinkTransport.h"

class WindowTestBed;
#include <cstdint>
#include <memory>
#include <vector>

class LossyLine {
public:
    enum class Fault { Lost, SendFails };
    struct Rule {
        std::uint8_t command;
        int occurrence; // 1 = the first request with this command after installation
        Fault fault;
    };

    LossyLine(WindowTestBed& bed, std::vector<Rule> rules);
    ~LossyLine();
    LossyLine(const LossyLine&) = delete;
    LossyLine& operator=(const LossyLine&) = delete;

    // The speeds the link asked for, one per open.
    const std::vector<std::int32_t>& OpenSpeeds() const;

    struct State;

private:
    WindowTestBed& bed_;
    std::shared_ptr<State> state_;
};
