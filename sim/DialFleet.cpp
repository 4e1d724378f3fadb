#include "DialFleet.h"

#include "DialRegistration.h"
#include "SimController.h"
#include "SimFaults.h"
#include "SimFleet.h"
#include "SimJournal.h"
#include "SimLoop.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace sim {
namespace {

// A modem's thread does little: a small stack keeps thousands of them small.
constexpr std::size_t kModemStackBytes = 512 * 1024;
// A call that is neither taken nor refused is given up after this long.
constexpr int kConnectTimeoutSeconds = 10;

struct Office {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = AF_INET;
};

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

timespec Span(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Waits until fd has one of events, for at most ns (fd -1: only waits). False on stop or time.
bool Wait(int fd, short events, std::int64_t ns, const volatile std::sig_atomic_t& stop,
          const sigset_t& waitMask) {
    const std::int64_t deadline = MonotonicNs() + ns;
    for (std::int64_t left = ns; !stop && left > 0; left = deadline - MonotonicNs()) {
        pollfd p{fd, events, 0};
        const timespec span = Span(left);
        const int r = ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, &span, &waitMask);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// A connected, non-blocking socket to the office with TCP_NODELAY, or -1 when the call fails.
int Call(const Office& office, const volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    const int fd = ::socket(office.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int failure = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&office.address), office.length) != 0) {
        failure = errno;
        if (failure == EINPROGRESS &&
            Wait(fd, POLLOUT, std::int64_t{kConnectTimeoutSeconds} * 1'000'000'000, stop,
                 waitMask)) {
            socklen_t size = sizeof failure;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
        }
    }
    if (failure != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Puts all of bytes on the call. False when it failed or the program stops meanwhile.
bool SendAll(int fd, const Packet& bytes, const volatile std::sig_atomic_t& stop,
             const sigset_t& waitMask) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else if (n < 0 && errno == EAGAIN && !Wait(fd, POLLOUT, 1'000'000'000, stop, waitMask))
            return false;
    }
    return true;
}

// Modem i: calls, registers, serves the controller on the call, and calls again, until stop.
void Modem(const Office& office, const SimOptions& options, int index,
           const std::function<QByteArray(int)>& archiveFor, volatile std::sig_atomic_t& stop,
           const sigset_t& waitMask) {
    const Identity identity = FleetIdentity(options, index);
    SimController controller(
        identity, std::function<QByteArray()>([&archiveFor, index] { return archiveFor(index); }));
    SimFaults faults(options.faults);
    SimJournal journal({}, {});
    ModemFraming modem = options.modem;
    const QByteArray registration = NumberedRegistration(options.registration, index).bytes;
    modem.registration.assign(registration.begin(), registration.end());
    std::minstd_rand rng(identity.serial); // a small state: thousands of modems hold one each
    std::uniform_real_distribution<double> pause(0.0, options.redialSeconds);
    while (!stop) {
        const int fd = Call(office, stop, waitMask);
        if (fd >= 0 && SendAll(fd, modem.registration, stop, waitMask)) {
            SimLoop loop(fd, controller, faults, journal, options.baud, &modem);
            loop.Run(stop, waitMask);
        }
        if (fd >= 0)
            ::close(fd);
        Wait(-1, 0, std::llround(pause(rng) * 1e9), stop, waitMask);
    }
}

// The office's address, or nothing with the cause printed.
std::optional<Office> Resolve(const SimOptions& options) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const QByteArray name = options.dialHost.toUtf8();
    const std::string service = std::to_string(options.dialPort);
    if (const int rc = getaddrinfo(name.constData(), service.c_str(), &hints, &found); rc != 0) {
        std::fprintf(stderr, "kv9000-sim: cannot find %s: %s\n", name.constData(),
                     gai_strerror(rc));
        return std::nullopt;
    }
    Office office;
    std::memcpy(&office.address, found->ai_addr, found->ai_addrlen);
    office.length = found->ai_addrlen;
    office.family = found->ai_family;
    freeaddrinfo(found);
    return office;
}

// Room for every modem's call and timer: the soft limit raised as far as the hard one allows.
void RoomForDescriptors(int modems) {
    rlimit limit{};
    const auto wanted = static_cast<rlim_t>(modems) * 2 + 64;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int DialFleet(const SimOptions& options, const std::function<QByteArray(int)>& archiveFor,
              volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    const std::optional<Office> office = Resolve(options);
    if (!office)
        return 2;
    RoomForDescriptors(options.fleet);
    for (int i = 0; i < options.fleet; ++i)
        std::printf("dialin:%s\n",
                    qPrintable(RegistrationText(NumberedRegistration(options.registration, i))));
    std::fflush(stdout);

    pthread_attr_t small;
    pthread_attr_init(&small);
    pthread_attr_setstacksize(&small, kModemStackBytes);
    pthread_setattr_default_np(&small); // for the threads made below
    pthread_attr_destroy(&small);
    std::vector<std::thread> modems;
    for (int i = 0; i < options.fleet; ++i)
        modems.emplace_back(Modem, std::cref(*office), std::cref(options), i, std::cref(archiveFor),
                            std::ref(stop), std::cref(waitMask));
    // As in the TCP fleet: a stop signal reaches whichever thread it finds, this one sees the flag
    // within a tick and wakes every modem with a signal of its own.
    const timespec tick{0, 200'000'000};
    while (!stop)
        ppoll(nullptr, 0, &tick, &waitMask);
    for (std::thread& t : modems)
        pthread_kill(t.native_handle(), SIGTERM);
    for (std::thread& t : modems)
        t.join();
    return 0;
}

} // namespace sim
