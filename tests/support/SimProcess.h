#pragma once

// The simulated controller kv9000-sim as a child process of a test. The test owns it by process
// id and waits for its ready line (the pseudo-terminal's path), never for a fixed time.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <sys/types.h>
#include <vector>

class SimProcess {
public:
    // Starts $KV_BIN_DIR/kv9000-sim with args and waits up to 10 s for its first output line.
    // When the simulator does not start or prints nothing, Device() is empty and Running() false;
    // the simulator's own messages go to the test's standard error.
    explicit SimProcess(const QStringList& args = {});
    ~SimProcess(); // Stop(), with SIGKILL if the simulator does not end
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Running() const;
    const QString& Device() const { return device_; } // e.g. /dev/pts/7
    qint64 Pid() const { return pid_; }

    // SIGTERM and wait up to 5 s, then SIGKILL. Idempotent.
    void Stop();
    // SIGKILL now: the line goes away under the program.
    void Kill();
    // After the simulator ended: its exit code, or -1 when a signal ended it or it still runs.
    int ExitCode() const;
    // Waits up to timeoutMs for the simulator to end on its own (for example --die-after).
    bool WaitForExit(int timeoutMs);

private:
    bool Reap(bool block) const;

    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    QString device_;
    mutable bool ended_ = false;
    mutable int status_ = 0;
};

// kv9000-sim --tcp 127.0.0.1:PORT --fleet n with args, on n consecutive ports nothing else holds
// (a few bases tried); firstPort is the first one. Not Running() when none was found.
std::unique_ptr<SimProcess> StartSimFleet(int n, const QStringList& args, int& firstPort);

// The simulator's --log file: one JSON object per line, in the order they were written.
std::vector<QJsonObject> ReadSimLog(const QString& path);
