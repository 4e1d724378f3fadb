#include "ServerWatch.h"

#include "ServerDriver.h"

ServerWatch::~ServerWatch() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        ending_ = true;
        socket_ = -1;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ServerWatch::Arm(qintptr socket, std::chrono::milliseconds allowance) {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        socket_ = socket;
        deadline_ = std::chrono::steady_clock::now() + allowance;
        cut_ = false;
        // The thread comes with the first arming: most connections are never watched long.
        if (!thread_.joinable() && socket >= 0)
            thread_ = std::thread([this] { Watch(); });
    }
    changed_.notify_all();
}

void ServerWatch::Disarm() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        socket_ = -1;
    }
    changed_.notify_all();
}

bool ServerWatch::Cut() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return cut_;
}

void ServerWatch::Watch() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!ending_) {
        if (socket_ < 0) {
            changed_.wait(guard);
            continue;
        }
        if (std::chrono::steady_clock::now() < deadline_) {
            changed_.wait_until(guard, deadline_);
            continue;
        }
        CutServerSocket(socket_);
        socket_ = -1;
        cut_ = true;
    }
}
