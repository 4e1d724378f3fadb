#include "DeviceHold.h"

#include "HostLookup.h"
#include "NetworkPort.h"
#include "NetworkTransport.h"
#include "OneLinePath.h"
#include "PortMap.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>

#include <set>
#include <vector>

namespace {

QMutex& Guard() {
    static QMutex mutex;
    return mutex;
}

std::set<QString>& HeldHere() {
    static std::set<QString> names;
    return names;
}

// A file name of the name: letters, digits, dots and hyphens as they are, anything else
// (an IPv6 address's colons, a scope) as "_".
QString FileName(const QString& name) {
    QString file = QStringLiteral("port-");
    for (const QChar c : name)
        file += (c.isLetterOrNumber() && c.unicode() < 0x80) || c == u'.' || c == u'-'
                    ? c
                    : QChar(u'_');
    return file + QStringLiteral(".lock");
}

} // namespace

struct DeviceHold::Files {
    std::vector<std::unique_ptr<QLockFile>> locks;
};

QStringList DeviceKeys(const QString& device) {
    if (!NamesNetworkPort(device)) {
        // A serial device by any link to it (/dev/serial/by-id/… is /dev/ttyUSB0).
        const QString real = QFileInfo(device).canonicalFilePath();
        return {real.isEmpty() ? device : real};
    }
    const NetworkPortParse parse = ParseNetworkPort(device);
    if (!parse.ok)
        return {device.toLower()};
    if (parse.port.protocol == NetworkProtocol::Dialin) // a modem by its registration, exactly
        return {QStringLiteral("dialin-") + QString::fromLatin1(parse.port.host.toLatin1().toHex())};
    const auto addresses = LookUpHost(parse.port.host, ConnectTimeoutMs);
    if (!addresses)
        return {parse.port.host.toLower() + u'-' + QString::number(parse.port.port)};
    return HeldNames(*addresses, parse.port.port);
}

DeviceHold::DeviceHold(const QString& folder)
    : files_(std::make_unique<Files>()), folder_(folder) {}

DeviceHold::~DeviceHold() {
    Release();
}

void DeviceHold::Release() {
    const QMutexLocker lock(&Guard());
    for (const QString& name : names_)
        HeldHere().erase(name);
    names_.clear();
    for (const auto& file : files_->locks)
        file->unlock();
    files_->locks.clear();
}

bool DeviceHold::Take(const QStringList& names) {
    Release();
    refusal_.clear();
    heldByAnother_ = false;
    const QMutexLocker lock(&Guard());
    for (const QString& name : names)
        if (HeldHere().contains(name)) {
            heldByAnother_ = true;
            refusal_ = QStringLiteral("порт занят: это устройство уже читает эта программа");
            return false;
        }
    const QString& folder = folder_;
    if (!folder.isEmpty()) {
        if (!QDir().mkpath(folder)) {
            refusal_ = QStringLiteral("порт не удаётся занять: папка %1 не создаётся")
                           .arg(QDir::toNativeSeparators(folder));
            return false;
        }
        for (const QString& name : names) {
            auto file = std::make_unique<QLockFile>(QDir(folder).filePath(FileName(name)));
            // Held as long as its process runs, however long a read takes.
            file->setStaleLockTime(0);
            if (file->tryLock(0)) {
                files_->locks.push_back(std::move(file));
                continue;
            }
            qint64 pid = 0;
            QString host;
            QString program;
            heldByAnother_ = file->error() == QLockFile::LockFailedError;
            refusal_ = heldByAnother_
                           ? (file->getLockInfo(&pid, &host, &program)
                                  ? QStringLiteral("порт занят: это устройство уже читает "
                                                   "процесс %1 (%2)")
                                        .arg(pid)
                                        .arg(ShownName(program))
                                  : QStringLiteral("порт занят: это устройство уже читает "
                                                   "другая программа"))
                           : QStringLiteral("порт не удаётся занять: файл %1 не создаётся")
                                 .arg(QDir::toNativeSeparators(file->fileName()));
            for (const auto& taken : files_->locks)
                taken->unlock();
            files_->locks.clear();
            return false;
        }
    }
    for (const QString& name : names)
        HeldHere().insert(name);
    names_ = names;
    return true;
}
