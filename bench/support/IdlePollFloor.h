#pragma once

// What one wake-up of an event loop that asks the system about every descriptor at once (poll)
// costs with many idle loopback TCP connections open: the floor under a listener's processor time
// when each of its calls wakes it once a heartbeat. Connections pairs connections, poll over
// their accepting ends with nothing to read, nothing else done. Measured here because it differs
// from machine to machine by more than the figures it explains.

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

// Microseconds one poll over connections idle connections takes (the mean of rounds), or a
// negative number when they could not be made.
inline double IdlePollMicroseconds(int connections, int rounds) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
        limit.rlim_cur < static_cast<rlim_t>(connections) * 2 + 64) {
        limit.rlim_cur = std::min(limit.rlim_max, static_cast<rlim_t>(connections) * 2 + 64);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listening, 1024) != 0 ||
        ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return -1;
    std::vector<int> open;
    std::vector<pollfd> watched;
    bool made = true;
    for (int i = 0; i < connections && made; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        made = client >= 0 &&
               ::connect(client, reinterpret_cast<const sockaddr*>(&address), size) == 0;
        const int accepted = made ? ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        made = made && accepted >= 0;
        for (const int fd : {client, accepted})
            if (fd >= 0)
                open.push_back(fd);
        if (made)
            watched.push_back(pollfd{accepted, POLLIN, 0});
    }
    double microseconds = -1;
    if (made) {
        const auto start = std::chrono::steady_clock::now();
        for (int r = 0; r < rounds; ++r)
            ::poll(watched.data(), watched.size(), 0);
        microseconds =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count() /
            rounds;
    }
    for (const int fd : open)
        ::close(fd);
    ::close(listening);
    return microseconds;
}
