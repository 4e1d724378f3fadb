#pragma once

// The dial-in listener (kv9000 --listen) as a child process of a test: started on a free
// loopback port, its log (standard error) read as it comes, waited for by what it says, never
// for a fixed time.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>

class ListenerProcess {
public:
    // Starts program --listen 127.0.0.1:<a free port> and waits up to 10 s for it to listen;
    // Listening() false when it did not. inChild runs in the child before the program starts
    // (POSIX only), e.g. to lower its limits.
    ListenerProcess(const QString& program, const QProcessEnvironment& environment,
                    const std::function<void()>& inChild = {});
    ~ListenerProcess(); // SIGTERM, then SIGKILL after 5 s

    bool Listening() const { return listening_; }
    unsigned short Port() const { return port_; }
    // "127.0.0.1:<port>" for the modems to call.
    QString Address() const;
    // Waits up to timeoutMs until the log holds text at least count times.
    bool WaitForLog(const QString& text, int timeoutMs, int count = 1);
    const QString& Log() const { return log_; }
    int Count(const QString& text) const { return static_cast<int>(log_.count(text)); }

private:
    std::unique_ptr<QProcess> process_;
    unsigned short port_ = 0;
    QString log_;
    bool listening_ = false;
};
