#include "CallSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
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
