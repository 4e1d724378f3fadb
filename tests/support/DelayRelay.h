#pragma once

// A TCP relay that holds every byte a fixed time in each direction: a far network (a cellular
// modem) on one machine, where the kernel's traffic shaper is not at hand. It listens on a free
// port of 127.0.0.1 and forwards one connection at a time to a port of 127.0.0.1. The
// connection itself is answered at once, as a near router would; only the data is delayed.

#include <atomic>
#include <thread>

class DelayRelay {
public:
    DelayRelay(unsigned short targetPort, int delayMsEachWay);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    unsigned short Port() const { return port_; }

private:
    void Run();

    unsigned short targetPort_;
    int delayMs_;
    unsigned short port_ = 0;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
