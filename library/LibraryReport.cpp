#include "LibraryReport.h"

#include "TsvField.h"

#include <QDateTime>

QString FormatRecordTime(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString FormatLibraryTable(const std::vector<LibraryController>& controllers) {
    QString out = QStringLiteral(
        "serial\tplace\tchannels\tvisits\tfirst\tlast\trecords\tlost_days\tconflicts\n");
    for (const LibraryController& c : controllers) {
        const QStringList fields{
            QString::number(c.serial),
            TsvField(c.place),
            QString::number(c.channels),
            QString::number(c.visits),
            c.first ? FormatRecordTime(*c.first) : QString(),
            c.last ? FormatRecordTime(*c.last) : QString(),
            QString::number(c.records),
            QString::number(static_cast<double>(c.lostSeconds) / 86400.0, 'f', 1),
            QString::number(c.conflicts)};
        out += fields.join(u'\t') + u'\n';
    }
    return out;
}
