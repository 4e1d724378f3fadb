#include "DelayRelay.h"

#include "Loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    Clock::time_point due;
    std::vector<char> bytes;
};

// One direction: bytes read from `from` leave for `to` delayMs later, in order.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Held> held;
};

void NoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

} // namespace

DelayRelay::DelayRelay(unsigned short targetPort, int delayMsEachWay)
    : targetPort_(targetPort), delayMs_(delayMsEachWay) {
    listenFd_ = ListenOnLoopback(4, &port_);
    if (pipe(wakeFds_) != 0)
        return;
    thread_ = std::thread([this] { Run(); });
}

DelayRelay::~DelayRelay() {
    stop_ = true;
    if (wakeFds_[1] >= 0 && write(wakeFds_[1], "x", 1) < 0) {
        // the thread ends at its next wake anyway
    }
    if (thread_.joinable())
        thread_.join();
    for (const int fd : {listenFd_, wakeFds_[0], wakeFds_[1]})
        if (fd >= 0)
            close(fd);
}

void DelayRelay::Run() {
    Direction up;   // client -> target
    Direction down; // target -> client
    const auto closePair = [&] {
        if (up.from >= 0)
            close(up.from);
        if (up.to >= 0)
            close(up.to);
        up = Direction{};
        down = Direction{};
    };
    const auto delay = std::chrono::milliseconds(delayMs_);
    char buffer[4096];
    while (!stop_) {
        // Deliver what is due; find when the next bytes are.
        int timeoutMs = -1;
        for (Direction* d : {&up, &down}) {
            while (!d->held.empty() && d->held.front().due <= Clock::now()) {
                const std::vector<char>& bytes = d->held.front().bytes;
                if (d->to >= 0 && send(d->to, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
                    closePair();
                    break;
                }
                d->held.pop_front();
            }
            if (!d->held.empty()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(d->held.front().due -
                                                                               Clock::now());
                const int ms = static_cast<int>(std::max<long long>(0, left.count()));
                timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
            }
        }
        pollfd fds[4] = {{wakeFds_[0], POLLIN, 0},
                         {listenFd_, POLLIN, 0},
                         {up.from, POLLIN, 0},
                         {down.from, POLLIN, 0}};
        if (poll(fds, 4, timeoutMs) < 0)
            continue;
        if (fds[1].revents & POLLIN) {
            const int client = accept(listenFd_, nullptr, nullptr);
            if (client >= 0) {
                closePair(); // one connection at a time: the newest wins, as a box's would
                const int target = socket(AF_INET, SOCK_STREAM, 0);
                const sockaddr_in address = LoopbackAddress(targetPort_);
                if (connect(target, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                    0) {
                    close(client);
                    close(target);
                    continue;
                }
                NoDelay(client);
                NoDelay(target);
                up.from = client;
                up.to = target;
                down.from = target;
                down.to = client;
            }
        }
        for (const int i : {2, 3}) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Direction& d = i == 2 ? up : down;
            if (d.from < 0)
                continue;
            const ssize_t n = recv(d.from, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closePair();
                break;
            }
            d.held.push_back({Clock::now() + delay, std::vector<char>(buffer, buffer + n)});
        }
    }
    closePair();
}
