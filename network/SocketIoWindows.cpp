#include "SocketIo.h"

#include <winsock2.h>

#include <algorithm>
#include <climits>

std::ptrdiff_t SocketSend(qintptr socket, std::span<const std::uint8_t> bytes) {
    const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int n =
        ::send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(bytes.data()), size, 0);
    if (n != SOCKET_ERROR)
        return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

std::ptrdiff_t SocketReceive(qintptr socket, std::span<std::uint8_t> buffer) {
    const int size = static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX));
    const int n =
        ::recv(static_cast<SOCKET>(socket), reinterpret_cast<char*>(buffer.data()), size, 0);
    if (n > 0)
        return n;
    if (n == 0)
        return -1; // the other end closed the connection
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

// select rather than WSAPoll: one socket, and select reports every ending of a connection.
bool SocketWait(qintptr socket, bool forSending, int timeoutMs) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(static_cast<SOCKET>(socket), &ready);
    fd_set failed = ready;
    timeval wait{};
    if (timeoutMs > 0) {
        wait.tv_sec = timeoutMs / 1000;
        wait.tv_usec = (timeoutMs % 1000) * 1000;
    }
    const int n =
        ::select(0, forSending ? nullptr : &ready, forSending ? &ready : nullptr, &failed, &wait);
    return n != 0; // an error counts as ready: the next call says what it was
}
