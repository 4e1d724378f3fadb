#include "LibraryBackground.h"

#include "LibraryIndex.h"
#include "TeamSync.h"

#include <QThreadPool>

LibraryBackground::LibraryBackground(QString indexPath, QString archivesFolder)
    : indexPath_(std::move(indexPath)), archivesFolder_(std::move(archivesFolder)),
      pool_(std::make_unique<QThreadPool>()), stop_(std::make_shared<std::atomic<bool>>(false)) {
    pool_->setMaxThreadCount(1);
}

LibraryBackground::~LibraryBackground() {
    stop_->store(true);
    pool_->waitForDone();
}

void LibraryBackground::Run(std::function<void(LibraryIndex&)> job) {
    const QString path = indexPath_;
    const auto stop = stop_;
    pool_->start([path, stop, job = std::move(job)] {
        if (stop->load())
            return;
        LibraryIndex index;
        // An index that does not open (damaged, newer) is left alone; the library window and
        // `kv9000 --library` say why.
        if (index.Open(path).isEmpty())
            job(index);
    });
}

void LibraryBackground::CatchUp() {
    const QString folder = archivesFolder_;
    const auto stop = stop_;
    Run([folder, stop](LibraryIndex& index) { index.CatchUp(folder, stop.get()); });
}

void LibraryBackground::AddKept(const QString& path, const QString& server) {
    const QString folder = archivesFolder_;
    const auto stop = stop_;
    Run([path, server, folder, stop](LibraryIndex& index) {
        index.AddFile(path);
        if (!server.isEmpty() && !stop->load())
            SyncWithServer(index, folder, server);
    });
}

void LibraryBackground::WaitForDone() {
    pool_->waitForDone();
}
