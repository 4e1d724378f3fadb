#pragma once

// A real ser2net serving devices (the simulator's pseudo-terminals) on free TCP ports of this
// machine, raw or as RFC 2217: the serial device server of the tests. Started with a
// configuration of its own, never the machine's; gone with the object.

#include "Loopback.h"

#include <QString>

#include <sys/types.h>
#include <utility>
#include <vector>

class Ser2Net {
public:
    enum class Mode { Raw, Rfc2217 };
    // Serves each device on a port of 127.0.0.1 of its own (the given ports, else free ones);
    // waits up to 10 s until every port listens. Running() is false when ser2net did not start.
    explicit Ser2Net(const std::vector<std::pair<QString, Mode>>& lines,
                     const std::vector<unsigned short>& ports = {});
    ~Ser2Net(); // Kill()
    Ser2Net(const Ser2Net&) = delete;
    Ser2Net& operator=(const Ser2Net&) = delete;

    bool Running() const { return pid_ > 0; }
    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT" of line i.
    QString Url(std::size_t i) const;
    unsigned short Port(std::size_t i) const { return ports_[i]; }
    // SIGKILL now: every connection drops, as when the box loses power.
    void Kill();

private:
    pid_t pid_ = -1;
    QString config_;
    std::vector<unsigned short> ports_;
    std::vector<Mode> modes_;
};
