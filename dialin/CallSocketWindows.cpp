#include "CallSocket.h"

#include <winsock2.h>
// after winsock2.h, whose types it uses
#include <mstcpip.h>

void KeepCallAlive(qintptr socket) {
    // The same probes as elsewhere: the first after 60 s of silence, then every 20 s (ten
    // unanswered probes: under 5 min).
    tcp_keepalive values{1, 60000, 20000};
    DWORD returned = 0;
    WSAIoctl(static_cast<SOCKET>(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
             &returned, nullptr, nullptr);
}

int CallRoundTripMs(qintptr) {
    return 0; // the link measures the call itself
}

int DescriptorsAllowed(int wanted) {
    return wanted; // sockets are not counted against a limit of open files here
}
