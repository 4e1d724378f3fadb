#include "LoggedListener.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

LoggedListener::LoggedListener(const QString& program, unsigned short port) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return;
    const QByteArray path = program.toLocal8Bit();
    QByteArray address = QByteArrayLiteral("127.0.0.1:") + QByteArray::number(port);
    char listen[] = "--listen";
    char* argv[] = {const_cast<char*>(path.constData()), listen, address.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const int rc = posix_spawn(&pid_, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(err[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(err[0]);
        return;
    }
    stderrFd_ = err[0];
    reader_ = std::thread([this] { Read(); });
}

LoggedListener::~LoggedListener() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 500 && !ended; ++i) {
            ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!ended)
                ::usleep(10'000);
        }
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    if (reader_.joinable())
        reader_.join(); // the pipe ends with the process
    if (stderrFd_ >= 0)
        ::close(stderrFd_);
}

void LoggedListener::Read() {
    std::string partial;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(stderrFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const Clock::time_point now = Clock::now();
        partial.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(mutex_);
        for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
            lines_.emplace_back(now, partial.substr(0, end));
            partial.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::optional<LoggedListener::Clock::time_point> LoggedListener::Find(const std::string& text,
                                                                      int count) const {
    int seen = 0;
    for (const auto& [when, line] : lines_)
        if (line.find(text) != std::string::npos && ++seen == count)
            return when;
    return std::nullopt;
}

int LoggedListener::Count(const QString& text) const {
    const std::string wanted = text.toStdString();
    std::lock_guard lock(mutex_);
    int seen = 0;
    for (const auto& line : lines_)
        seen += line.second.find(wanted) != std::string::npos ? 1 : 0;
    return seen;
}

std::optional<LoggedListener::Clock::time_point>
LoggedListener::WaitFor(const QString& text, int count, int timeoutMs) const {
    const std::string wanted = text.toStdString();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (const auto when = Find(wanted, count))
            return when;
        if (ended_ || changed_.wait_until(lock, deadline) == std::cv_status::timeout)
            return Find(wanted, count);
    }
}

QString LoggedListener::Tail(int lines) const {
    std::lock_guard lock(mutex_);
    QStringList tail;
    for (std::size_t i = lines_.size() > static_cast<std::size_t>(lines)
                             ? lines_.size() - static_cast<std::size_t>(lines)
                             : 0;
         i < lines_.size(); ++i)
        tail << QString::fromStdString(lines_[i].second);
    return tail.join(u'\n');
}
