#pragma once

// A bound on the waits of one connection to the team's server for what no option of the client
// library bounds: a server that accepts and then never answers (stopped, swapped out, hung on its
// disk) keeps a call waiting for ever, keep-alives or not, since the server's machine still
// acknowledges. While armed, the watch cuts the connection's socket when the deadline passes:
// the blocked call returns at once with the client's "server closed the connection" failure, the
// connection is gone, and its owner handles that as any lost connection.
//
// Arm and Disarm come from the connection's own thread; the cut from the watch's thread, only
// while armed, so that a socket disarmed (and then perhaps closed and its number reused) is never
// touched.

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class ServerWatch {
public:
    ServerWatch() = default;
    ~ServerWatch(); // disarms and ends the watch's thread
    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    // Cuts socket when allowance passes before Disarm (an earlier arming is replaced). A socket
    // of -1 arms nothing.
    void Arm(qintptr socket, std::chrono::milliseconds allowance);
    void Disarm();
    // Whether the watch cut the connection since it was last armed.
    bool Cut() const;

private:
    void Watch();

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::thread thread_;
    qintptr socket_ = -1;
    std::chrono::steady_clock::time_point deadline_;
    bool cut_ = false;
    bool ending_ = false;
};
