#include "SimProcess.h"

#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 10'000;
constexpr int kStopTimeoutMs = 5'000;

std::string SimulatorPath() {
    const char* dir = std::getenv("KV_BIN_DIR");
    return std::string(dir && *dir ? dir : ".") + "/kv9000-sim";
}

// Reads the first line from fd, waiting at most timeoutMs in all.
QString ReadFirstLine(int fd, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return {};
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return {};
        char c;
        const ssize_t n = ::read(fd, &c, 1); // one byte at a time: nothing past the line is taken
        if (n <= 0)
            return {};
        if (c == '\n')
            return QString::fromLocal8Bit(line.c_str());
        line.push_back(c);
    }
}

} // namespace

SimProcess::SimProcess(const QStringList& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    const std::string program = SimulatorPath();
    std::vector<std::string> store{program};
    for (const QString& a : args)
        store.push_back(a.toLocal8Bit().toStdString());
    std::vector<char*> argv;
    for (auto& s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        std::fprintf(stderr, "SimProcess: cannot start %s\n", program.c_str());
        ::close(out[0]);
        return;
    }
    pid_ = pid;
    stdoutFd_ = out[0];
    device_ = ReadFirstLine(stdoutFd_, kStartTimeoutMs);
    if (device_.isEmpty()) {
        std::fprintf(stderr, "SimProcess: %s printed no device path\n", program.c_str());
        Stop();
    }
}

SimProcess::~SimProcess() {
    Stop();
    if (stdoutFd_ >= 0)
        ::close(stdoutFd_);
}

bool SimProcess::Reap(bool block) const {
    if (ended_ || pid_ <= 0)
        return true;
    const pid_t r = waitpid(pid_, &status_, block ? 0 : WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD))
        ended_ = true;
    return ended_;
}

bool SimProcess::Running() const {
    return pid_ > 0 && !Reap(false);
}

bool SimProcess::WaitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void SimProcess::Stop() {
    if (pid_ <= 0 || Reap(false))
        return;
    ::kill(pid_, SIGTERM);
    if (!WaitForExit(kStopTimeoutMs)) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
}

void SimProcess::Kill() {
    if (pid_ <= 0 || Reap(false))
        return;
    ::kill(pid_, SIGKILL);
    Reap(true);
}

int SimProcess::ExitCode() const {
    if (!Reap(false) || !WIFEXITED(status_))
        return -1;
    return WEXITSTATUS(status_);
}

std::vector<QJsonObject> ReadSimLog(const QString& path) {
    std::vector<QJsonObject> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            out.push_back(doc.object());
    }
    return out;
}

std::unique_ptr<SimProcess> StartSimFleet(int n, const QStringList& args, int& firstPort) {
    std::unique_ptr<SimProcess> sim;
    // Below the system's own ports for outgoing connections (32768 on): a connection to the
    // fleet that has just ended keeps its port a while, and a fleet started again a day later
    // must find its ports free.
    firstPort = 10000 + static_cast<int>(::getpid() % 20000);
    for (int attempt = 0; attempt < 5; ++attempt, firstPort += 97) { // ports another program holds
        sim = std::make_unique<SimProcess>(
            QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(firstPort),
                        QStringLiteral("--fleet"), QString::number(n)} +
            args);
        if (sim->Running())
            break;
    }
    return sim;
}
