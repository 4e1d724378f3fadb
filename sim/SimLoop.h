#pragma once

// The simulator's main loop: reads requests from the pseudo-terminal (or a TCP connection), lets
// the controller answer and puts the answers on the line, each at its due time.

#include "FrameCodec.h"
#include "ModemPackets.h"
#include "PseudoTerminal.h"
#include "SimController.h"
#include "SimFaults.h"
#include "SimJournal.h"

#include <csignal>
#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

class SimLoop {
public:
    // baud 0: answers go out as soon as they are ready. Otherwise every request and every answer
    // takes 10 bits a byte of line time at that speed, as on a real line.
    SimLoop(PseudoTerminal& line, SimController& controller, SimFaults& faults, SimJournal& journal,
            int baud);
    // The same on a connected, non-blocking TCP socket (not closed here): Run ends when the
    // program closes the connection.
    // With modem: the socket is a modem's call, and its writes are the modem's packets (see
    // ModemPackets.h), with its heartbeats between them. modem must outlive the loop.
    SimLoop(int socket, SimController& controller, SimFaults& faults, SimJournal& journal, int baud,
            const ModemFraming* modem = nullptr);
    ~SimLoop();

    // Serves until stop becomes nonzero or the line is closed on purpose. The stop signals must
    // be blocked by the caller; they are let through only while the loop waits (waitMask).
    // Returns the exit code.
    int Run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

private:
    using Ns = std::int64_t;
    struct Outgoing {
        Ns due;
        std::vector<std::uint8_t> bytes; // noise and the answer frame
        kv::Frame answer;
        bool late = false;
        std::size_t frameAt = 0; // where the answer frame starts in bytes
    };

    static Ns Now();
    Ns LineTime(std::size_t bytes) const;
    bool ReadRequests();
    void Handle(const kv::Frame& request, Ns arrival);
    void SendDue(Ns now);
    // A heartbeat due by now goes at the first boundary between two writes.
    void SendHeartbeat(Ns now);
    // Puts as much of unsent_ on the line as it takes now.
    void Flush();
    void ArmTimer();

    PseudoTerminal* line_ = nullptr; // null on a socket
    int fd_ = -1;
    SimController& controller_;
    SimFaults& faults_;
    SimJournal& journal_;
    int baud_;
    const ModemFraming* modem_ = nullptr;
    Ns nextHeartbeat_ = -1; // -1: no heartbeat
    int timer_ = -1;
    Ns armedFor_ = -1;
    kv::FrameDecoder decoder_;
    std::deque<Outgoing> queue_; // due times never decrease: the controller answers in order
    Ns lineFree_ = 0;            // when the last scheduled answer has left the line
    Ns credit_ = 0;              // how late the last answer went out, not the program's fault
    bool closed_ = false;
    std::vector<std::uint8_t> readBuffer_;
    // Answers due but not yet taken by the line (its buffer was full): they go out, in order and
    // whole, as soon as the line has room, so a frame never leaves in part. One write each (a
    // modem's packet); the front one may have gone in part.
    std::deque<std::vector<std::uint8_t>> unsent_;
    std::size_t sentOfFront_ = 0;
    std::size_t unsentBytes_ = 0;
};

} // namespace sim
