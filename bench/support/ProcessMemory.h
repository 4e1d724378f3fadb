#pragma once

// Resident memory of this process, as the kernel counts it.

#include <QByteArray>
#include <QFile>
#include <QString>

// VmRSS in kB, or -1 where /proc is not there.
inline long VmRssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
