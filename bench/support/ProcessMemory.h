#pragma once

// Resident memory and processor time of a process (this one or another), as the kernel counts
// them.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <unistd.h>

// VmRSS in kB of the process (0: this one), or -1 where /proc is not there.
inline long VmRssKb(qint64 pid = 0) {
    QFile f(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid)
                    : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The processor time a running process has had so far (user and system), from /proc.
inline double ProcessCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command's name in parentheses (which may hold spaces): utime and
    // stime are the 12th and 13th of them.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}
