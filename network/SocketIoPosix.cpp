#include "SocketIo.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

std::ptrdiff_t SocketSend(qintptr socket, std::span<const std::uint8_t> bytes) {
    for (;;) {
        const ssize_t n =
            ::send(static_cast<int>(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

std::ptrdiff_t SocketReceive(qintptr socket, std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socket), buffer.data(), buffer.size(), 0);
        if (n > 0)
            return n;
        if (n == 0)
            return -1; // the other end closed the connection
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

bool SocketWait(qintptr socket, bool forSending, int timeoutMs) {
    pollfd wait{static_cast<int>(socket), static_cast<short>(forSending ? POLLOUT : POLLIN), 0};
    for (;;) {
        const int n = ::poll(&wait, 1, timeoutMs < 0 ? 0 : timeoutMs);
        if (n >= 0 || errno != EINTR)
            return n > 0; // an error or hang-up counts as ready: the next call says which
    }
}
