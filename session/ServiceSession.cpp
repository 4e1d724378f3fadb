#include "ServiceSession.h"

#include "Cp1251.h"

#include <QFileInfo>

#include <utility>

ServiceSession::ServiceSession(QString archivesFolder, QObject* parent)
    : QObject(parent), archivesFolder_(std::move(archivesFolder)) {
    saver_.setMaxThreadCount(1);
}

ServiceSession::~ServiceSession() {
    saver_.waitForDone();
}

void ServiceSession::SetShownChannels(int channels) {
    shownChannels_ = channels;
    geometry_ = GeometryFor(channels);
}

void ServiceSession::SetController(int channels) {
    controllerChannels_ = channels;
    // A file shown keeps its own geometry until the view is left.
    if (!FileViewShown())
        SetShownChannels(channels);
}

void ServiceSession::SetIdentityRead(const IdentityReadResult& read,
                                     const QString& identification) {
    lastRead_ = {};
    lastRead_.serial = read.serial;
    lastRead_.address = read.address;
    if (read.comment)
        lastRead_.comment = FromCp1251(*read.comment);
    lastIdentification_ = identification;
}

void ServiceSession::ShowFile(const ArchiveFileContents& contents, const QString& path) {
    ++shownCount_;
    keptPath_.clear();
    shown_ = contents;
    shownPath_ = path;
    SetShownChannels(contents.channelCount);
}

QString ServiceSession::ControllerFolder() const {
    if (!shown_)
        return {};
    const QString file =
        shownPath_.isEmpty() ? AutoSavePath(archivesFolder_, *shown_, {}, false) : shownPath_;
    return QFileInfo(file).absolutePath();
}

void ServiceSession::LeaveFileView() {
    shownPath_.clear();
    SetShownChannels(controllerChannels_);
}

void ServiceSession::CloseShown() {
    ++shownCount_;
    keptPath_.clear();
    shown_.reset();
    LeaveFileView();
}

ServiceSession::KeptDownload ServiceSession::KeepDownload(const QByteArray& image,
                                                          const QString& port,
                                                          const ControllerOnLine& onLine,
                                                          const QDateTime& now,
                                                          std::optional<int> blocksRead) {
    KeptDownload kept;
    ArchiveFileContents& contents = kept.contents;
    contents.channelCount = controllerChannels_;
    contents.serial = lastRead_.serial;
    contents.address = lastRead_.address;
    contents.identification = lastIdentification_;
    contents.comment = lastRead_.comment.value_or(QString());
    const std::optional<QString> answeredId =
        onLine.identification ? std::optional(FromCp1251(*onLine.identification)) : std::nullopt;
    kept.anotherController = (onLine.serial && onLine.serial != lastRead_.serial) ||
                             (answeredId && *answeredId != lastIdentification_);
    if (kept.anotherController) {
        // Only what the controller on the line said is its identity; its comment and address
        // were not asked and stay unknown.
        contents.serial = onLine.serial;
        contents.identification = answeredId.value_or(QString());
        contents.address.reset();
        contents.comment.clear();
    }
    contents.port = port;
    contents.downloadedAt = now;
    contents.image = image;
    contents.blocksRead = blocksRead;
    shown_ = contents;
    shownPath_.clear();
    keptPath_.clear();
    const quint64 shownCount = ++shownCount_;
    SetShownChannels(controllerChannels_);

    // The name is taken when the file is complete, by a move that never replaces another file.
    saver_.start([this, folder = archivesFolder_, contents, shownCount] {
        QString path;
        const QString error = KeepArchiveFile(folder, contents, &path, KeptEncoding::Compressed);
        if (path.isEmpty())
            path = AutoSavePath(folder, contents);
        // The destructor waits for this thread, so the object is still there.
        QMetaObject::invokeMethod(
            this,
            [this, path, error, shownCount] {
                if (error.isEmpty() && shownCount == shownCount_)
                    keptPath_ = path;
                emit SaveFinished(path, error);
            },
            Qt::QueuedConnection);
    });
    return kept;
}

ServiceSession::KeptDownload ServiceSession::KeepRead(const ControllerRead& read,
                                                      const QString& port, const QDateTime& now,
                                                      std::optional<int> blocksRead) {
    SetController(read.found.channelCount);
    SetIdentityRead(read.identity, FromCp1251(read.identity.lastReply));
    return KeepDownload(read.download.image, port, read.onLine, now, blocksRead);
}

void ServiceSession::WaitForSaves() {
    saver_.waitForDone();
}

IdentityJournalEntry ServiceSession::JournalEntry(const IdentityChange& change,
                                                  const IdentityWriteSteps* steps,
                                                  const QByteArray& error, const QString& port,
                                                  const QDateTime& when) const {
    IdentityJournalEntry entry;
    entry.when = when;
    entry.user = LoginName();
    entry.port = port;
    entry.before = lastRead_;
    entry.after.serial = change.serial;
    entry.after.address = change.address;
    entry.after.comment = FromCp1251(change.comment);
    const QString refused = QStringLiteral("refused");
    entry.addressStep = steps ? JournalStepText(steps->address, error) : refused;
    entry.serialStep = steps ? JournalStepText(steps->serial, error) : refused;
    entry.commentStep = steps ? JournalStepText(steps->comment, error) : refused;
    return entry;
}
