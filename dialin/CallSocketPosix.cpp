#include "CallSocket.h"

#include <algorithm>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

void KeepCallAlive(qintptr socket) {
    const int fd = static_cast<int>(socket);
    const int on = 1;
    const int idle = 60;  // seconds of silence before the first probe
    const int every = 30; // between probes
    const int count = 6;  // unanswered probes before the call counts as dead: 4 min in all
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &every, sizeof every);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

int CallRoundTripMs(qintptr socket) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return 0;
    return static_cast<int>((info.tcpi_rtt + 999) / 1000);
}

int DescriptorsAllowed(int wanted) {
    rlimit limit{};
    const auto want = static_cast<rlim_t>(wanted);
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return wanted;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < want) {
        // A login's or a service's usual soft limit (1024) is far below its hard one.
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? want : std::min(want, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= want
               ? wanted
               : static_cast<int>(limit.rlim_cur);
}
