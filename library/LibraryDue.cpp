#include "LibraryDue.h"

#include "ArchiveFile.h"
#include "LibraryReport.h"
#include "OverwriteDue.h"
#include "TsvField.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

// The moment told from each kept file, by its path, size and time of change: a kept file is never
// written again, so the library window's every reload need not read them all anew.
struct Told {
    qint64 size = 0;
    QDateTime changed;
    std::optional<qint64> overwriteFrom;
};
QMutex toldLock;
QHash<QString, Told> told;

// The moment from the kept file at path, or the cause it does not read.
std::optional<qint64> OverwriteFromFile(const QString& path, QString& problem) {
    const QFileInfo info(path);
    {
        const QMutexLocker locker(&toldLock);
        const auto it = told.constFind(path);
        if (it != told.constEnd() && it->size == info.size() && it->changed == info.lastModified())
            return it->overwriteFrom;
    }
    const ArchiveFileReadResult read = ReadArchiveFile(path);
    if (!read.contents) {
        problem = read.error;
        return std::nullopt;
    }
    const std::optional<qint64> from =
        OverwriteFrom(read.contents->image, read.contents->channelCount);
    const QMutexLocker locker(&toldLock);
    told.insert(path, {info.size(), info.lastModified(), from});
    return from;
}

} // namespace

IndexRead<std::vector<ControllerDue>> ControllersDue(const LibraryIndex& index) {
    IndexRead<std::vector<ControllerDue>> due;
    const IndexRead<std::vector<LibraryController>> controllers = index.Controllers();
    if (controllers.Failed()) {
        due.error = controllers.error;
        return due;
    }
    // Each controller's newest visit in one query: a query a controller (and the whole of its
    // visits) made the library window's opening several times slower.
    const IndexRead<std::vector<LibraryVisit>> newestVisits = index.NewestVisits();
    if (newestVisits.Failed()) {
        due.error = newestVisits.error;
        return due;
    }
    std::map<std::pair<int, int>, const LibraryVisit*> newestOf;
    for (const LibraryVisit& v : newestVisits)
        newestOf[{v.serial, v.channels}] = &v;
    for (const LibraryController& c : controllers) {
        ControllerDue d{c, std::nullopt, std::nullopt, {}};
        if (const auto it = newestOf.find({c.serial, c.channels}); it != newestOf.end()) {
            d.lastRecord = it->second->newest;
            d.overwriteFrom = OverwriteFromFile(it->second->file, d.problem);
        }
        due.push_back(std::move(d));
    }
    std::stable_sort(due.begin(), due.end(), [](const ControllerDue& a, const ControllerDue& b) {
        return std::tuple(!a.overwriteFrom, a.overwriteFrom.value_or(0), a.controller.serial) <
               std::tuple(!b.overwriteFrom, b.overwriteFrom.value_or(0), b.controller.serial);
    });
    return due;
}

qint64 RecordTimeNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return QDateTime(now.date(), now.time(), Qt::UTC).toSecsSinceEpoch();
}

QString FormatDueTable(const std::vector<ControllerDue>& due, qint64 asOf) {
    QString out =
        QStringLiteral("serial\tplace\tchannels\tlast_record\toverwrite_from\tdays_left\n");
    for (const ControllerDue& d : due) {
        const QStringList fields{QString::number(d.controller.serial),
                                 TsvField(d.controller.place),
                                 QString::number(d.controller.channels),
                                 d.lastRecord ? FormatRecordTime(*d.lastRecord) : QString(),
                                 d.overwriteFrom ? FormatRecordTime(*d.overwriteFrom) : QString(),
                                 d.overwriteFrom
                                     ? QString::number(DaysUntil(*d.overwriteFrom, asOf), 'f', 1)
                                     : QString()};
        out += fields.join(u'\t') + u'\n';
    }
    return out;
}
