#include "Ser2Net.h"

#include "Loopback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Someone listens on the port: the kernel's table of TCP sockets has it in state LISTEN (0A).
// (A test connection would make ser2net open the device; a test bind is fooled by a port whose
// last connection is still closing.)
bool Listening(unsigned short port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        QByteArray(":") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1].endsWith(local) && fields[3] == "0A")
            return true;
    }
    return false;
}

} // namespace

Ser2Net::Ser2Net(const std::vector<std::pair<QString, Mode>>& lines,
                 const std::vector<unsigned short>& ports) {
    // chardelay off: the box sends what the line gave at once, as a device server set up for
    // a polled protocol does (it would otherwise wait a millisecond for more).
    QString yaml;
    for (const auto& [device, mode] : lines) {
        const unsigned short port =
            ports_.size() < ports.size() ? ports[ports_.size()] : FreeTcpPort();
        ports_.push_back(port);
        modes_.push_back(mode);
        yaml += QStringLiteral("connection: &line%1\n"
                               "  accepter: %2tcp,127.0.0.1,%1\n"
                               "  connector: serialdev,%3,115200n81,local\n"
                               "  options:\n"
                               "    kickolduser: true\n"
                               "    chardelay: false\n")
                    .arg(port)
                    .arg(mode == Mode::Rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                    .arg(device);
    }
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/ser2net-XXXXXX.yaml"));
    file.setAutoRemove(false);
    if (!file.open())
        return;
    file.write(yaml.toUtf8());
    file.close();
    config_ = file.fileName();
    const QByteArray configPath = config_.toLocal8Bit();
    const QByteArray pidPath = (config_ + QStringLiteral(".pid")).toLocal8Bit();
    pid_ = fork();
    if (pid_ == 0) {
        // Its own chatter (mdns it cannot start here) stays out of the test's output.
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        // -n: stay in the foreground; -u: no lock files under /var/lock.
        execlp("ser2net", "ser2net", "-n", "-u", "-c", configPath.constData(), "-P",
               pidPath.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int tries = 0; tries < 1000; ++tries) {
        bool all = true;
        for (const unsigned short port : ports_)
            all = all && Listening(port);
        if (all)
            return;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
}

Ser2Net::~Ser2Net() {
    Kill();
    if (!config_.isEmpty()) {
        QFile::remove(config_);
        QFile::remove(config_ + QStringLiteral(".pid"));
    }
}

QString Ser2Net::Url(std::size_t i) const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(modes_[i] == Mode::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
        .arg(ports_[i]);
}

void Ser2Net::Kill() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
