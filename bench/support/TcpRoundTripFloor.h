#pragma once

// What the machine itself allows for many request-and-answer exchanges over loopback TCP: the
// floor under a collection's wall time. Threads pairs, each a client that sends a request of
// requestBytes and waits for an answer of answerBytes, and a server that answers at once, with
// nothing else done (no frames, no controller, no files). Plain blocking sockets: the cheapest
// the system offers per exchange, measured here because it differs from machine to machine by
// more than the figures it explains.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Seconds for exchanges exchanges shared by pairs threads pairs, or a negative number when the
// loopback could not be used.
inline double TcpRoundTripFloorSeconds(int pairs, long exchanges, int requestBytes,
                                       int answerBytes) {
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listening, pairs) != 0 ||
        ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listening >= 0)
            ::close(listening);
        return -1;
    }
    const int on = 1;
    const auto receive = [](int fd, int bytes) {
        char buffer[256];
        for (int got = 0; got < bytes;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            got += static_cast<int>(n);
        }
        return true;
    };
    std::atomic<bool> failed{false};
    std::vector<std::thread> servers;
    for (int i = 0; i < pairs; ++i)
        servers.emplace_back([&] {
            const int fd = ::accept(listening, nullptr, nullptr);
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const std::vector<char> answer(static_cast<std::size_t>(answerBytes), 1);
            while (receive(fd, requestBytes))
                ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(fd);
        });
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < pairs; ++i)
        clients.emplace_back([&] {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
                failed = true;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const std::vector<char> request(static_cast<std::size_t>(requestBytes), 2);
            for (long k = 0; k < exchanges / pairs && !failed; ++k)
                if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0 ||
                    !receive(fd, answerBytes))
                    failed = true;
            ::close(fd);
        });
    for (std::thread& t : clients)
        t.join();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    ::shutdown(listening, SHUT_RDWR);
    for (std::thread& t : servers)
        t.join();
    ::close(listening);
    return failed ? -1 : seconds.count();
}
