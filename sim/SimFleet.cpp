#include "SimFleet.h"

#include "Cp1251.h"
#include "SimController.h"
#include "SimFaults.h"
#include "SimJournal.h"
#include "SimLoop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sim {
namespace {

// A listening socket on host:port, or -1 with the cause in error.
int Listen(const QString& host, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const QByteArray name = host.toUtf8();
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(name.constData(), service.c_str(), &hints, &found); rc != 0) {
        error = gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        const int on = 1;
        if (fd >= 0 && (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
                        ::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4) != 0)) {
            error = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

// One controller on its port: one connection at a time, until stop.
void Serve(int listening, const SimOptions& options, int index, const QByteArray& archive,
           volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    SimController controller(FleetIdentity(options, index), archive);
    SimFaults faults(options.faults);
    SimJournal journal({}, {});
    const timespec tick{0, 200'000'000};
    while (!stop) {
        pollfd wait{listening, POLLIN, 0};
        if (ppoll(&wait, 1, &tick, &waitMask) <= 0)
            continue;
        const int connection = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        const int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        SimLoop loop(connection, controller, faults, journal, options.baud);
        loop.Run(stop, waitMask);
        ::close(connection);
    }
}

} // namespace

Identity FleetIdentity(const SimOptions& options, int index) {
    Identity identity;
    identity.address = static_cast<std::uint8_t>(options.address);
    identity.serial = static_cast<std::uint16_t>(options.serial + index);
    identity.comment = ToCp1251(options.comment).left(kMaxText);
    identity.identification =
        ToCp1251(options.identification.value_or(DefaultIdentification(options.channels)))
            .left(kMaxText);
    return identity;
}

int ServeFleet(const SimOptions& options, const std::function<QByteArray(int)>& archiveFor,
               volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    std::vector<int> listening;
    for (int i = 0; i < options.fleet; ++i) {
        std::string error;
        const int fd = Listen(options.tcpHost, options.tcpPort + i, error);
        if (fd < 0) {
            std::fprintf(stderr, "kv9000-sim: cannot listen on %s:%d: %s\n",
                         qPrintable(options.tcpHost), options.tcpPort + i, error.c_str());
            for (int open : listening)
                ::close(open);
            return 2;
        }
        listening.push_back(fd);
    }
    std::vector<QByteArray> archives;
    for (int i = 0; i < options.fleet; ++i)
        archives.push_back(archiveFor(i));
    for (int i = 0; i < options.fleet; ++i)
        std::printf("tcp://%s:%d\n", qPrintable(options.tcpHost), options.tcpPort + i);
    std::fflush(stdout);

    std::vector<std::thread> controllers;
    for (int i = 0; i < options.fleet; ++i)
        controllers.emplace_back(Serve, listening[static_cast<std::size_t>(i)], std::cref(options),
                                 i, std::cref(archives[static_cast<std::size_t>(i)]),
                                 std::ref(stop), std::cref(waitMask));
    // A stop signal reaches whichever thread it finds; the others see the flag within a tick
    // while they wait (this one and those waiting for a connection), and are woken by a signal of
    // their own while they serve.
    const timespec tick{0, 200'000'000};
    while (!stop)
        ppoll(nullptr, 0, &tick, &waitMask);
    for (std::thread& t : controllers)
        pthread_kill(t.native_handle(), SIGTERM);
    for (std::thread& t : controllers)
        t.join();
    for (int fd : listening)
        ::close(fd);
    return 0;
}

} // namespace sim
