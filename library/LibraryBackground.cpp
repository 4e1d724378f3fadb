#include "LibraryBackground.h"

#include "LibraryIndex.h"

#include <QThreadPool>

LibraryBackground::LibraryBackground(QString indexPath, QString archivesFolder,
                                     std::function<void(LibraryIndex&)> sync)
    : indexPath_(std::move(indexPath)), archivesFolder_(std::move(archivesFolder)),
      sync_(std::move(sync)), pool_(std::make_unique<QThreadPool>()),
      stop_(std::make_shared<std::atomic<bool>>(false)) {
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

void LibraryBackground::AddKept(const QString& path) {
    const auto sync = sync_;
    const auto stop = stop_;
    Run([path, sync, stop](LibraryIndex& index) {
        index.AddFile(path);
        if (sync && !stop->load())
            sync(index);
    });
}

void LibraryBackground::WaitForDone() {
    pool_->waitForDone();
}
