#include "PortSurvey.h"

#include "OpenDevices.h"

#include "LowLatency.h"
#include "PortMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ReadSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(4096)).trimmed();
}

// The tail of the kernel log. /dev/kmsg gives one record a read and EAGAIN at its end; a file
// gives its bytes. Either way at most a few megabytes are read.
QString ReadKernelLog(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray text;
    char buffer[8192];
    for (int reads = 0; reads < 100000 && text.size() < 4 * 1024 * 1024; ++reads) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, n);
        else if (n < 0 && errno == EPIPE)
            continue; // a record was overwritten while we read; go on with the next
        else
            break;
    }
    ::close(fd);
    return QString::fromUtf8(text);
}

// The services the kernel log says took a USB interface ("usbfs: interface 0 claimed by
// ch341 while 'brltty' sets config #1").
QStringList ServicesThatClaimedAdapters(const QString& kernelLog) {
    static const QRegularExpression claim(
        QStringLiteral("claimed by \\S+ while '([^']+)' sets config"));
    QStringList services;
    for (auto it = claim.globalMatch(kernelLog); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!services.contains(name))
            services << name;
    }
    return services;
}

QString CureForService(const QString& service) {
    if (service.contains(QStringLiteral("brltty")))
        return QStringLiteral("если брайлевского дисплея нет: sudo apt remove brltty, затем "
                              "отключите и снова подключите адаптер");
    return QStringLiteral("остановите службу «%1», затем отключите и снова подключите адаптер")
        .arg(service);
}

QString GroupName(gid_t gid) {
    if (const group* g = getgrgid(gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid);
}

QString UserName(uid_t uid) {
    if (const passwd* p = getpwuid(uid))
        return QString::fromLocal8Bit(p->pw_name);
    return QString::number(uid);
}

bool Contains(const std::vector<SurveyGroupId>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The processes other than ours with a descriptor on the node: "minicom (процесс 1234)".
QStringList Holders(const SurveyRoots& roots, const QString& canonicalNode, long ownPid) {
    QStringList holders;
    const QDir proc(roots.proc);
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        if (pid.toLong(&numeric) == ownPid || !numeric)
            continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        // Other users' processes are not readable: they are simply not seen.
        for (const QFileInfo& fd :
             fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == canonicalNode) {
                const QString comm = ReadSmallFile(proc.filePath(pid + QStringLiteral("/comm")));
                holders << QStringLiteral("%1 (процесс %2)")
                               .arg(comm.isEmpty() ? QStringLiteral("?") : comm, pid);
                break;
            }
        }
    }
    return holders;
}

// Walks up from the tty's device to the USB device that carries the vendor and product ids.
void FillUsb(const QString& ttyDevice, PortRow& row) {
    QDir dir(QFileInfo(ttyDevice).canonicalFilePath());
    for (int up = 0; up < 6 && !dir.isRoot() && !dir.path().isEmpty(); ++up) {
        const QString vendor = ReadSmallFile(dir.filePath(QStringLiteral("idVendor")));
        if (!vendor.isEmpty()) {
            row.usbId = vendor + ':' + ReadSmallFile(dir.filePath(QStringLiteral("idProduct")));
            row.usbName = (ReadSmallFile(dir.filePath(QStringLiteral("manufacturer"))) + ' ' +
                           ReadSmallFile(dir.filePath(QStringLiteral("product"))))
                              .trimmed();
            return;
        }
        if (!dir.cdUp())
            return;
    }
}

QString ById(const SurveyRoots& roots, const QString& canonicalNode) {
    const QDir byId(roots.dev + QStringLiteral("/serial/by-id"));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == canonicalNode)
            return link.fileName();
    return {};
}

void Classify(const SurveyRoots& roots, const SurveyUser& user, const QStringList& claimers,
              PortRow& row) {
    const QFileInfo info(row.node);
    if (!info.exists()) {
        row.state = PortState::Missing;
        row.cause = QStringLiteral("устройства %1 нет").arg(row.node);
        if (!claimers.isEmpty()) {
            row.cause += QStringLiteral("; по журналу ядра адаптер забрала служба «%1»")
                             .arg(claimers.join(QStringLiteral("», «")));
            row.cure = CureForService(claimers.first());
        } else {
            row.cure = QStringLiteral("подключите адаптер или исправьте раздел [Ports] файла "
                                      "настроек");
        }
        return;
    }
    const QString canonical = info.canonicalFilePath();
    const QString name = QFileInfo(canonical).fileName();
    const bool pty = canonical.startsWith(roots.dev + QStringLiteral("/pts/"));
    const QString sysTty = roots.sys + QStringLiteral("/class/tty/") + name;
    if (!pty && !QFileInfo::exists(sysTty)) {
        row.state = PortState::NotSerial;
        row.cause = QStringLiteral("%1 — не последовательный порт").arg(row.node);
        row.cure = QStringLiteral("исправьте раздел [Ports] файла настроек");
        return;
    }
    row.byId = ById(roots, canonical);
    row.driver =
        QFileInfo(sysTty + QStringLiteral("/device/driver")).symLinkTarget().section('/', -1);
    FillUsb(sysTty + QStringLiteral("/device"), row);
    row.latencyTimerMs = ReadLatencyTimerMs(roots.sys, canonical);
    if (const auto report = RecordedLowLatency(row.node))
        row.lowLatency = DescribeLowLatency(report->outcome);

    struct stat st {};
    if (::stat(QFile::encodeName(canonical).constData(), &st) == 0 && user.uid != 0) {
        const bool owner = st.st_uid == user.uid;
        const bool inGroup = Contains(user.sessionGroups, st.st_gid);
        const mode_t need = owner     ? (S_IRUSR | S_IWUSR)
                            : inGroup ? (S_IRGRP | S_IWGRP)
                                      : (S_IROTH | S_IWOTH);
        if ((st.st_mode & need) != need) {
            const QString group = GroupName(st.st_gid);
            const bool groupWouldDo = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
            if (!owner && !inGroup && groupWouldDo && Contains(user.accountGroups, st.st_gid)) {
                row.state = PortState::NewLoginNeeded;
                row.cause = QStringLiteral("пользователь %1 уже в группе %2, но этот вход в "
                                           "систему был раньше")
                                .arg(user.name, group);
                row.cure = QStringLiteral("выйдите из системы и войдите снова (или перезагрузите "
                                          "компьютер)");
            } else if (!owner && !inGroup && groupWouldDo) {
                row.state = PortState::NoPermission;
                row.cause = QStringLiteral("нет прав: порт открыт группе %1, а пользователь %2 "
                                           "в неё не входит")
                                .arg(group, user.name);
                row.cure = QStringLiteral("выполните sudo usermod -aG %1 %2, затем выйдите из "
                                          "системы и войдите снова")
                               .arg(group, user.name);
            } else {
                row.state = PortState::NoPermission;
                row.cause = QStringLiteral("нет прав: порт открыт только пользователю %1")
                                .arg(UserName(st.st_uid));
                row.cure =
                    QStringLiteral("попросите администратора дать доступ к %1").arg(row.node);
            }
            return;
        }
    }
    // The program at the other end of a pseudo-terminal keeps it open too: not a holder.
    const QStringList holders = pty ? QStringList() : Holders(roots, canonical, user.ownPid);
    if (!holders.isEmpty()) {
        row.state = PortState::Busy;
        row.cause = QStringLiteral("порт занят: %1").arg(holders.join(QStringLiteral(", ")));
        row.cure = QStringLiteral("закройте эту программу или выберите другой порт");
    }
}

} // namespace

SurveyUser SurveyUser::Current() {
    SurveyUser user;
    user.uid = ::getuid();
    user.name = UserName(user.uid);
    user.ownPid = static_cast<long>(::getpid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        user.sessionGroups.resize(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, user.sessionGroups.data());
        user.sessionGroups.resize(static_cast<std::size_t>(std::max(got, 0)));
    }
    user.sessionGroups.push_back(::getgid());
    if (const passwd* p = getpwuid(user.uid)) {
        int n = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(n));
        if (getgrouplist(p->pw_name, p->pw_gid, groups.data(), &n) < 0 && n > 0) {
            groups.resize(static_cast<std::size_t>(n));
            getgrouplist(p->pw_name, p->pw_gid, groups.data(), &n);
        }
        groups.resize(static_cast<std::size_t>(std::max(n, 0)));
        user.accountGroups = groups;
    }
    return user;
}

SurveyReport SurveyPorts(const PortMap& map, const SurveyRoots& roots, const SurveyUser& user,
                         int onlyPort) {
    SurveyReport report;
    std::vector<std::pair<int, QString>> ports;
    if (onlyPort > 0) {
        if (const QString node = map.DeviceFor(onlyPort); !node.isEmpty())
            ports.emplace_back(onlyPort, node);
    } else {
        ports = map.Assigned();
    }
    // The kernel log is read for the whole survey (its notes), and for one port only when that
    // port is missing (the log may say who took it).
    QStringList claimers;
    if (onlyPort == 0)
        claimers = ServicesThatClaimedAdapters(ReadKernelLog(roots.kernelLog));
    for (const auto& [port, node] : ports) {
        PortRow row;
        row.port = port;
        row.node = node;
        row.network = NamesNetworkPort(node);
        if (!row.network) { // the system knows nothing of a port on the network
            Classify(roots, user, claimers, row);
            if (onlyPort > 0 && row.state == PortState::Missing) {
                claimers = ServicesThatClaimedAdapters(ReadKernelLog(roots.kernelLog));
                Classify(roots, user, claimers, row);
            }
        }
        // Our own holding is no other program's: the row stays Ready and says it is open here.
        row.openHere = row.state == PortState::Ready && DeviceOpenHere(node);
        report.rows.push_back(row);
    }
    if (onlyPort == 0)
        for (const QString& service : claimers)
            report.notes << QStringLiteral("Журнал ядра: USB-адаптер забрала служба «%1»; %2.")
                                .arg(service, CureForService(service));
    return report;
}
