#include "SharedLineBox.h"

#include "Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void NoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Small writes on loopback: all of it goes at once or the peer is gone.
void SendAll(int fd, const char* bytes, ssize_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, bytes, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        bytes += n;
        size -= n;
    }
}

} // namespace

SharedLineBox::SharedLineBox(unsigned short linePort) : linePort_(linePort) {
    listenFd_ = ListenOnLoopback(8, &port_);
    if (pipe(wakeFds_) != 0)
        return;
    thread_ = std::thread([this] { Run(); });
}

SharedLineBox::~SharedLineBox() {
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

void SharedLineBox::Run() {
    const int line = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in target = LoopbackAddress(linePort_);
    if (connect(line, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        close(line);
        return;
    }
    NoDelay(line);
    std::vector<int> clients;
    char buffer[4096];
    while (!stop_) {
        std::vector<pollfd> wait{
            {wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}, {line, POLLIN, 0}};
        for (const int c : clients)
            wait.push_back({c, POLLIN, 0});
        if (poll(wait.data(), wait.size(), -1) <= 0 || (wait[0].revents & POLLIN))
            continue;
        // Clients that left first, then the line, then who came: a client that closes just
        // before another connects is never counted with it.
        std::vector<int> open;
        for (std::size_t i = 3; i < wait.size(); ++i) {
            const int c = wait[i].fd;
            if (wait[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = recv(c, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    close(c);
                    continue;
                }
                SendAll(line, buffer, n);
            }
            open.push_back(c);
        }
        clients = open;
        if (wait[2].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = recv(line, buffer, sizeof buffer, 0);
            if (n <= 0)
                break; // the line is gone: the box is of no further use
            for (const int c : clients)
                SendAll(c, buffer, n);
        }
        if (wait[1].revents & POLLIN) {
            const int c = accept(listenFd_, nullptr, nullptr);
            if (c >= 0) {
                NoDelay(c);
                clients.push_back(c);
                if (static_cast<int>(clients.size()) > mostClients_)
                    mostClients_ = static_cast<int>(clients.size());
            }
        }
    }
    for (const int c : clients)
        close(c);
    close(line);
}
