#pragma once

// kv9000 --listen as a child of the benchmark: its log lines (standard error) taken as they come
// by a thread of their own, each with the time it came, and its process for /proc.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

class LoggedListener {
public:
    using Clock = std::chrono::steady_clock;

    // program --listen 127.0.0.1:port, in the benchmark's environment.
    LoggedListener(const QString& program, unsigned short port);
    ~LoggedListener(); // SIGTERM, then SIGKILL when it does not end within 5 s
    LoggedListener(const LoggedListener&) = delete;
    LoggedListener& operator=(const LoggedListener&) = delete;

    pid_t Pid() const { return pid_; }
    // Lines holding text so far.
    int Count(const QString& text) const;
    // Waits up to timeoutMs until count lines hold text; when the count-th came.
    std::optional<Clock::time_point> WaitFor(const QString& text, int count, int timeoutMs) const;
    // The last lines, for a message when something did not come.
    QString Tail(int lines = 5) const;

private:
    void Read();
    // Under mutex_: the count-th line holding text and when it came, or nothing.
    std::optional<Clock::time_point> Find(const std::string& text, int count) const;

    pid_t pid_ = -1;
    int stderrFd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::pair<Clock::time_point, std::string>> lines_;
    bool ended_ = false;
};
