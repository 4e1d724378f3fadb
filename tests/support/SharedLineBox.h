#pragma once

// A device server that lets every connection in and gives each the same line: what any client
// sends goes on the line, what the line answers goes to every client. The box of a careless
// installation, on which two readers take each other's answers. It listens on a free port of
// 127.0.0.1; its line is one TCP connection to a port of 127.0.0.1 (the simulator's --tcp).

#include <atomic>
#include <thread>

class SharedLineBox {
public:
    explicit SharedLineBox(unsigned short linePort);
    ~SharedLineBox();
    SharedLineBox(const SharedLineBox&) = delete;
    SharedLineBox& operator=(const SharedLineBox&) = delete;

    unsigned short Port() const { return port_; }
    // The most clients it had connected at one moment.
    int MostClients() const { return mostClients_; }

private:
    void Run();

    unsigned short linePort_;
    unsigned short port_ = 0;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::atomic<int> mostClients_{0};
    std::thread thread_;
};
