#include "LibraryBackground.h"

#include "LibraryIndex.h"
#include "TeamSync.h"

#include <QStringList>
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

void LibraryBackground::Run(std::function<void(LibraryIndex&)> job,
                            std::function<void(const QString&)> openFailed) {
    const QString path = indexPath_;
    const auto stop = stop_;
    pool_->start([path, stop, job = std::move(job), openFailed = std::move(openFailed)] {
        if (stop->load())
            return;
        LibraryIndex index;
        // An index that does not open (damaged, newer) is left alone; the library window and
        // `kv9000 --library` say why.
        const QString error = index.Open(path);
        if (error.isEmpty())
            job(index);
        else if (openFailed)
            openFailed(error);
    });
}

void LibraryBackground::CatchUp() {
    const QString folder = archivesFolder_;
    const auto stop = stop_;
    Run([folder, stop](LibraryIndex& index) { index.CatchUp(folder, stop.get()); });
}

void LibraryBackground::AddKept(const QString& path, const QString& server,
                                std::function<void(const QString&)> failed) {
    const QString folder = archivesFolder_;
    const auto stop = stop_;
    auto openFailed = [failed](const QString& error) {
        if (failed)
            failed(QStringLiteral("Архив сохранён, но не внесён в библиотеку: %1").arg(error));
    };
    Run(
        [path, server, folder, stop, failed](LibraryIndex& index) {
            QStringList problems;
            const AddResult added = index.AddFile(path);
            if (added.outcome == AddOutcome::Refused)
                problems << QStringLiteral("архив сохранён, но не внесён в библиотеку: %1")
                                .arg(added.error);
            if (!server.isEmpty() && !stop->load()) {
                const SyncReport sync = SyncWithServer(index, folder, server);
                if (!sync.error.isEmpty())
                    problems << QStringLiteral("синхронизация с сервером не завершена: %1")
                                    .arg(sync.error);
            }
            if (!problems.isEmpty() && failed) {
                QString text = problems.join(QStringLiteral("; "));
                text[0] = text[0].toUpper();
                failed(text);
            }
        },
        openFailed);
}

void LibraryBackground::SyncQuietly(const QString& server,
                                    std::function<void(const QString&)> failed) {
    const QString folder = archivesFolder_;
    Run(
        [server, folder, failed](LibraryIndex& index) {
            const SyncReport sync = SyncWithServer(index, folder, server);
            if (!sync.error.isEmpty() && failed)
                failed(QStringLiteral("Синхронизация с сервером не завершена: %1").arg(sync.error));
        },
        [failed](const QString& error) {
            if (failed)
                failed(QStringLiteral("Библиотека не открывается: %1").arg(error));
        });
}

void LibraryBackground::WaitForDone() {
    pool_->waitForDone();
}
