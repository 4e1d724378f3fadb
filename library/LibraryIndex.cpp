#include "LibraryIndex.h"

#include "DiskRoom.h"
#include "LibraryIndexImpl.h"
#include "LibrarySchema.h"

#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QTemporaryFile>
#include <QUrl>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> connectionCounter{0};

constexpr int kBusyTimeoutMs = 10000;

// Whether the index at path can be written: a file can be made in its folder and the file
// itself (when there) opens for writing. Tried, not judged from permissions, so that a folder on
// a read-only file system counts as read-only for the superuser too.
bool IndexWritable(const QString& path) {
    const QFileInfo info(path);
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.kv9000-probe-XXXXXX"));
    if (!probe.open())
        return false;
    QFile file(path);
    return !info.exists() || file.open(QIODevice::ReadWrite);
}

} // namespace

LibraryIndex::LibraryIndex() : impl_(std::make_unique<Impl>()) {
    impl_->connection = QStringLiteral("kvlibrary-%1").arg(connectionCounter.fetch_add(1));
}

LibraryIndex::~LibraryIndex() {
    if (QSqlDatabase::contains(impl_->connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(impl_->connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(impl_->connection);
    }
}

QString LibraryIndex::Impl::OpenConnection(bool forReading) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (!db.isValid())
        return QStringLiteral("драйвер SQLite для Qt не установлен (пакет libqt6sql6-sqlite)");
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (forReading) {
        // A write-ahead log needs its shared-memory file beside the index, which a read-only
        // folder cannot hold: the file is then read as it is, as an immutable one.
        const bool logThere = QFileInfo::exists(path + QStringLiteral("-shm"));
        db.setDatabaseName(
            QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
            (logThere ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=ro&immutable=1")));
        options += QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
    } else {
        db.setDatabaseName(path);
    }
    db.setConnectOptions(options);
    if (!db.open())
        return QStringLiteral("индекс %1 не открывается: %2")
            .arg(QDir::toNativeSeparators(path), IndexErrorCause(db.lastError(), path));
    QString error = PrepareLibrarySchema(db);
    QSqlQuery q(db);
    if (error.isEmpty() && !forReading &&
        (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
         !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))))
        error = IndexErrorCause(q.lastError(), path);
    if (!error.isEmpty()) {
        q.finish();
        db.close();
        return QStringLiteral("индекс %1: %2").arg(QDir::toNativeSeparators(path), error);
    }
    open = true;
    readOnly = forReading;
    return {};
}

QString LibraryIndex::Open(const QString& path) {
    impl_->path = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(impl_->path);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("папка %1 не создаётся")
            .arg(QDir::toNativeSeparators(info.absolutePath()));
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 — не файл").arg(QDir::toNativeSeparators(impl_->path));
    // An index that cannot be written is still listed: it is opened for reading.
    const bool writable = IndexWritable(impl_->path);
    if (!writable && !info.exists())
        return QStringLiteral("индекса %1 нет, а папка недоступна для записи")
            .arg(QDir::toNativeSeparators(impl_->path));
    return impl_->OpenConnection(!writable);
}

bool LibraryIndex::IsOpen() const {
    return impl_->open;
}

bool LibraryIndex::IsReadOnly() const {
    return impl_->readOnly;
}

QString LibraryIndex::CheckWhole() const {
    if (!impl_->open)
        return QStringLiteral("индекс не открыт");
    QSqlQuery q(impl_->Db());
    if (!impl_->Exec(q, QStringLiteral("PRAGMA quick_check")))
        return impl_->lastError;
    if (!q.next() || q.value(0).toString() != QStringLiteral("ok"))
        return DamagedIndexCause();
    return {};
}

QString LibraryIndex::Path() const {
    return impl_->path;
}

QString LibraryIndex::ConnectionName() const {
    return impl_->connection;
}

QString LibraryIndex::LastError() const {
    return impl_->lastError;
}

IndexReport RebuildLibraryIndex(const QString& path, const QString& archivesFolder,
                                QString& error) {
    IndexReport report;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        error = QStringLiteral("папка %1 не создаётся")
                    .arg(QDir::toNativeSeparators(info.absolutePath()));
        return report;
    }
    // One rebuild at a time: a second one would write the same fresh file under the first.
    QLockFile lock(path + QStringLiteral(".rebuild.lock"));
    lock.setStaleLockTime(0); // a rebuild may take long; only a dead process's lock is stale
    if (!lock.tryLock(0)) {
        qint64 pid = 0;
        QString host, application;
        if (lock.error() == QLockFile::LockFailedError) {
            lock.getLockInfo(&pid, &host, &application);
            error =
                QStringLiteral("индекс уже перестраивается (процесс %1); дождитесь конца").arg(pid);
        } else if (const QString noRoom = NoRoomCause(info.absolutePath()); !noRoom.isEmpty()) {
            error = QStringLiteral("индекс не перестроить: %1").arg(noRoom);
        } else {
            error = QStringLiteral("индекс не перестроить: папка %1 недоступна для записи")
                        .arg(QDir::toNativeSeparators(info.absolutePath()));
        }
        return report;
    }
    const QString fresh = path + QStringLiteral(".rebuilding");
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(fresh + suffix);
    {
        LibraryIndex index;
        error = index.Open(fresh);
        if (!error.isEmpty())
            return report;
        report = index.CatchUp(archivesFolder);
    }
    // A damaged index (anywhere in it, not only its first pages) or one of a newer program is
    // kept under a name of its own.
    if (QFileInfo::exists(path)) {
        bool sound = false;
        {
            LibraryIndex old;
            sound = old.Open(path).isEmpty() && old.CheckWhole().isEmpty();
        }
        if (!sound) {
            const QString kept =
                path + QStringLiteral(".damaged-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
            if (!QFile::rename(path, kept)) {
                error = QStringLiteral("старый индекс %1 не переименован; новый оставлен в %2")
                            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(fresh));
                return report;
            }
            for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
                QFile::rename(path + suffix, kept + suffix);
        }
    }
    // The fresh index was closed with its log folded in; its name replaces the old one's.
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
    if (std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()) != 0)
        error = QStringLiteral("новый индекс %1 не поставлен на место %2")
                    .arg(QDir::toNativeSeparators(fresh), QDir::toNativeSeparators(path));
    return report;
}
