#pragma once

// What the machine itself allows for exchanges paced like a serial line: the floor under every
// paced figure. A bare answering process on a pseudo-terminal's master side keeps the simulator's
// pacing rules (an answer is due the line time of the request and of the answer after the
// request arrived, less the lateness of its own last answer) and the bare asking side sends a
// request and waits for the whole answer, nothing else done (no frames, no link, no controller,
// no files). Its time against the line time is what the pseudo-terminal's and the machine's
// wake-ups cost; asked through a ser2net that serves the terminal, what a device server adds.
// Measured here because it changes from machine to machine, and from hour to hour on a virtual
// one, by more than the figures it explains.

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class PacedLineFloor {
public:
    PacedLineFloor(int baud, int requestBytes, int answerBytes)
        : baud_(baud), requestBytes_(requestBytes), answerBytes_(answerBytes) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        device_ = ::ptsname(master_);
        // Held open so that the master never reads as hung up while nobody else has the terminal.
        slave_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            return;
        termios raw{};
        ::tcgetattr(slave_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);
        // A process of its own, as the simulator is: a wake-up of the other side then switches
        // address spaces as in the real exchanges.
        answering_ = ::fork();
        if (answering_ == 0) {
            Answer();
            ::_exit(0);
        }
    }
    ~PacedLineFloor() {
        if (answering_ > 0) {
            ::kill(answering_, SIGKILL);
            ::waitpid(answering_, nullptr, 0);
        }
        if (slave_ >= 0)
            ::close(slave_);
        if (master_ >= 0)
            ::close(master_);
    }
    PacedLineFloor(const PacedLineFloor&) = delete;
    PacedLineFloor& operator=(const PacedLineFloor&) = delete;

    // The terminal's device, for a device server to serve; empty when it could not be made.
    const std::string& Device() const { return device_; }

    // Time of exchanges exchanges against their line time, asked on the terminal itself;
    // negative when the line failed.
    double Ratio(int exchanges) { return answering_ <= 0 ? -1 : Ask(slave_, exchanges); }

    // The same, asked through a device server listening on tcpPort of 127.0.0.1 (raw TCP) that
    // serves Device().
    double RatioThrough(unsigned short tcpPort, int exchanges) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(tcpPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        double ratio = -1;
        if (answering_ > 0 && fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0)
            ratio = Ask(fd, exchanges);
        if (fd >= 0)
            ::close(fd);
        return ratio;
    }

private:
    using Ns = std::int64_t;
    static Ns Now() {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<Ns>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }
    Ns LineTime(int bytes) const { return static_cast<Ns>(bytes) * 10 * 1'000'000'000 / baud_; }

    static bool ReadAll(int fd, int bytes, int timeoutMs) {
        char buffer[256];
        for (int got = 0; got < bytes;) {
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, timeoutMs) <= 0)
                return false;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            got += static_cast<int>(n);
        }
        return true;
    }

    double Ask(int fd, int exchanges) {
        const std::vector<char> request(static_cast<std::size_t>(requestBytes_), 2);
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < exchanges; ++k)
            if (::write(fd, request.data(), request.size()) !=
                    static_cast<ssize_t>(request.size()) ||
                !ReadAll(fd, answerBytes_, 2000))
                return -1;
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        return seconds.count() * 1e9 /
               (static_cast<double>(exchanges) * LineTime(requestBytes_ + answerBytes_));
    }

    // The simulator's pacing, on an absolute clock, with its timer slack of one nanosecond. Runs
    // in the forked process until it is killed: system calls only.
    void Answer() {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        char answer[256] = {};
        Ns lineFree = 0;
        Ns credit = 0;
        for (;;) {
            char buffer[256];
            int got = 0;
            Ns arrival = 0;
            while (got < requestBytes_) {
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                if (got == 0)
                    arrival = Now();
                got += static_cast<int>(n);
            }
            const Ns start = std::max(arrival - credit, lineFree);
            const Ns due = start + LineTime(requestBytes_) + LineTime(answerBytes_);
            const timespec when{static_cast<time_t>(due / 1'000'000'000),
                                static_cast<long>(due % 1'000'000'000)};
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
            }
            if (::write(master_, answer, static_cast<std::size_t>(answerBytes_)) < 0)
                return;
            lineFree = due;
            credit = std::max<Ns>(0, Now() - due);
        }
    }

    int baud_;
    int requestBytes_;
    int answerBytes_;
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
    pid_t answering_ = -1;
};

// Measures the floor on the terminal itself with exchanges exchanges and prints it in one line;
// returns its ratio (negative when the line failed).
inline double PrintPacedLineFloor(int baud, int requestBytes, int answerBytes,
                                  int exchanges = 2000) {
    PacedLineFloor floor(baud, requestBytes, answerBytes);
    const double ratio = floor.Ratio(exchanges);
    std::printf(
        "this machine's floor: %d bare exchanges paced the same way over a pseudo-terminal, "
        "ratio %.4f\n",
        exchanges, ratio);
    std::fflush(stdout);
    return ratio;
}
