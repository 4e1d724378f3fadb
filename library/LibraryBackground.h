#pragma once

// The library's work behind the main window, one job at a time on a thread of its own, so that
// the window never waits for the index or the server: the catch-up with the archives folder at
// start, each kept download as it is saved, and a quiet sync after it when a server is set.
// Each job opens its own connection to the index.

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class LibraryIndex;
class QThreadPool;

class LibraryBackground {
public:
    LibraryBackground(QString indexPath, QString archivesFolder);
    ~LibraryBackground(); // stops after the current file and waits for it
    LibraryBackground(const LibraryBackground&) = delete;
    LibraryBackground& operator=(const LibraryBackground&) = delete;

    // Indexes the archives folder's files not yet in the index (the first start indexes all).
    void CatchUp();
    // Indexes the archive file just kept at path, then, when server (a libpq connection string)
    // is not empty, syncs quietly with it: what it sent and fetched shows at the next sync in the
    // window. When the index does not open or refuses the file, or the sync stops, failed is
    // called once, on the library's thread, with one line for the user saying what failed and
    // why (the file itself is kept: the next catch-up or sync completes it).
    void AddKept(const QString& path, const QString& server = {},
                 std::function<void(const QString&)> failed = {});
    // A quiet sync with server after many files were added (a collection of a fleet): failed as
    // for AddKept.
    void SyncQuietly(const QString& server, std::function<void(const QString&)> failed = {});
    // Waits until every job queued so far has finished (tests, benchmarks).
    void WaitForDone();

private:
    // Runs job with the index open; openFailed (when set) gets the cause when it does not open.
    void Run(std::function<void(LibraryIndex&)> job,
             std::function<void(const QString&)> openFailed = {});

    QString indexPath_;
    QString archivesFolder_;
    std::unique_ptr<QThreadPool> pool_;
    std::shared_ptr<std::atomic<bool>> stop_;
};
