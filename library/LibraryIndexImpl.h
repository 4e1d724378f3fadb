#pragma once

// The index's connection as its files share it: LibraryIndex.cpp opens it (and rebuilds the
// index), LibraryIndexAdd.cpp writes visits into it, LibraryIndexVisits.cpp and
// LibraryIndexHistory.cpp read them back. Within library/ only.

#include "IndexErrors.h"
#include "LibraryIndex.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

struct ArchiveFileContents;
struct ArchiveGeometry;

// The order visits follow one another in (of the visits table as v): by download time; a
// download of unknown time at its newest record, which it was downloaded after.
inline const QString kVisitOrder =
    QStringLiteral("COALESCE(v.downloaded_ms, (SELECT max(n.newest) * 1000 FROM visit_channels n "
                   "WHERE n.visit_id = v.id), 0)");

struct LibraryIndex::Impl {
    QString connection;
    QString path;
    bool open = false;
    bool readOnly = false;
    mutable QString lastError;

    QSqlDatabase Db() const { return QSqlDatabase::database(connection, false); }

    bool Exec(QSqlQuery& q, const QString& sql) const {
        if (q.exec(sql))
            return true;
        lastError = IndexErrorCause(q.lastError(), path);
        return false;
    }
    bool Exec(QSqlQuery& q) const {
        if (q.exec())
            return true;
        lastError = IndexErrorCause(q.lastError(), path);
        return false;
    }
    // The cause a read gives when the index is not open.
    template <typename Value> bool NotOpen(IndexRead<Value>& read) const {
        if (!open)
            read.error = QStringLiteral("индекс не открыт");
        return !open;
    }

    // The cause every write gives in an index opened for reading.
    QString ReadOnlyCause() const {
        return QStringLiteral("индекс доступен только для чтения: папка %1 недоступна для записи")
            .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
    }

    QString OpenConnection(bool forReading);

    // Adds one read archive file in one transaction: a known image only moves its recorded file
    // (when that is gone), a new one becomes a visit with its records, history and settings.
    AddResult Add(const ArchiveFileContents& contents, const QString& file, const QByteArray& sha);

    // The statements that add a visit's channels, prepared once per visit.
    struct AddStatements;
    // One controller's history: its serial number and channel count.
    struct HistoryKey {
        int serial = 0;
        int channels = 0;
    };
    // Adds a channel of the visit: its new records and the history's counts, its span, its
    // settings blocks. Returns what was not written when a statement fails (lastError says why),
    // or an empty text.
    QString AddChannel(AddStatements& statements, HistoryKey key, qint64 visit, int channel,
                       const ChannelSeries& series, const char* block,
                       const ArchiveGeometry& geometry) const;
};
