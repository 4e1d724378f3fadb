#pragma once

// The simulator's end of a pseudo-terminal. The program opens the other end (the slave device)
// as its serial port.

#include <string>

namespace sim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair in raw mode. The master is non-blocking. The simulator keeps a slave
    // descriptor of its own open: without one, the master reads EIO while the program has the
    // port closed (between discovery candidates), and the kernel would hang the line up.
    bool Open(std::string& error);

    // Closes both ends: the program's port goes away as if the cable were pulled.
    void Close();

    int MasterFd() const { return master_; }
    const std::string& DevicePath() const { return path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

} // namespace sim
