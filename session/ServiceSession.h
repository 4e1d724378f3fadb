#pragma once

// One service session at the controller, without a window: which controller is on the line and
// its identity as the identity read returned it, the channel geometry of what is shown, the
// archive shown and whether it came from the controller or from a file, keeping every completed
// download as an archive file (written off the caller's thread), and the journal entry of an
// identity change. The main window shows what this object holds and never keeps a copy of it;
// nothing here is ever read back out of a control.
//
// Failures: saving a kept download reports its cause through SaveFinished (an empty text means
// written); nothing here throws.

#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "ControllerRead.h"
#include "IdentityCommands.h"
#include "IdentityJournal.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <optional>

class ServiceSession : public QObject {
    Q_OBJECT

public:
    // archivesFolder: where completed downloads are kept (one folder per serial number in it).
    explicit ServiceSession(QString archivesFolder, QObject* parent = nullptr);
    // Waits for the saves still running.
    ~ServiceSession() override;

    // Where completed downloads are kept (one folder per serial number in it).
    const QString& KeptFolder() const { return archivesFolder_; }

    // --- The controller on the line ---------------------------------------------------------
    // Discovery found a controller with this many channels (1 or 2), or none (0).
    void SetController(int channels);
    int ControllerChannels() const { return controllerChannels_; }
    // What an identity read returned; identification is the text of its last reply, which the
    // status bar shows.
    void SetIdentityRead(const IdentityReadResult& read, const QString& identification);
    const JournalIdentity& LastRead() const { return lastRead_; }
    const QString& LastIdentification() const { return lastIdentification_; }

    // --- What the grids show ----------------------------------------------------------------
    // The channel count and geometry of what is shown: the file's in the file view, otherwise
    // the controller's (zeros while none was found).
    int ChannelCount() const { return shownChannels_; }
    const ArchiveGeometry& Geometry() const { return geometry_; }
    // The archive shown (a completed download or a file); nullptr while none is.
    const ArchiveFileContents* Shown() const { return shown_ ? &*shown_ : nullptr; }
    // The file shown; empty when what is shown came from the controller.
    const QString& ShownPath() const { return shownPath_; }
    bool FileViewShown() const { return !shownPath_.isEmpty(); }
    // Where the other archive files of the controller shown are: beside the file shown, or,
    // for what came from the controller, among the kept downloads (the archives folder's folder
    // of its serial number). Empty while nothing is shown.
    QString ControllerFolder() const;
    // Shows a file (absolute path): its channel count becomes the geometry's.
    void ShowFile(const ArchiveFileContents& contents, const QString& path);
    // Back to the controller: its channel count becomes the geometry's again.
    void LeaveFileView();
    // Nothing shown any more: the grids are empty, as at start (the controller stays).
    void CloseShown();

    // --- Keeping a completed download -------------------------------------------------------
    struct KeptDownload {
        ArchiveFileContents contents; // what is kept and now shown
        // The controller that answered right after the download is not the one the window
        // shows (the cable was moved): the file is kept under the one that answered.
        bool anotherController = false;
    };
    // Makes image the archive shown and starts writing it to a new file in the archives folder
    // (KeepArchiveFile: no file is ever replaced). onLine is what the controller answered when
    // asked right after the download; values it did not give leave the identity as last read.
    // SaveFinished tells the name taken and how the write ended.
    // blocksRead: set for a read of only what changed (kept in the file), nullopt for a whole one.
    KeptDownload KeepDownload(const QByteArray& image, const QString& port,
                              const ControllerOnLine& onLine, const QDateTime& now,
                              std::optional<int> blocksRead = std::nullopt);
    // A completed read without a window (ReadController) becomes what the window's discovery,
    // identity read and download would have made of it (the controller, its identity as read,
    // the status text of the read's last reply), and its image is kept as KeepDownload keeps
    // it. port: "COM<n>" of the read.
    KeptDownload KeepRead(const ControllerRead& read, const QString& port, const QDateTime& now,
                          std::optional<int> blocksRead = std::nullopt);
    // Waits until every write started so far has ended (their SaveFinished are queued).
    void WaitForSaves();
    // The file the download shown was kept in, once its write has ended well (and its
    // SaveFinished was delivered); empty while it is written, when it failed, and when a file or
    // nothing is shown.
    const QString& KeptPath() const { return keptPath_; }

    // --- The journal of identity changes ----------------------------------------------------
    // The entry of one press of "Изменить": before is the identity as last read; steps null
    // means the press was refused (a file is shown).
    IdentityJournalEntry JournalEntry(const IdentityChange& change, const IdentityWriteSteps* steps,
                                      const QByteArray& error, const QString& port,
                                      const QDateTime& when) const;

signals:
    // A kept download's file is written (error empty) or could not be (error says why).
    void SaveFinished(const QString& path, const QString& error);

private:
    void SetShownChannels(int channels);

    QString archivesFolder_;
    int controllerChannels_ = 0;
    int shownChannels_ = 0;
    ArchiveGeometry geometry_;
    JournalIdentity lastRead_;
    QString lastIdentification_;
    std::optional<ArchiveFileContents> shown_;
    QString shownPath_;
    QString keptPath_;
    // Counts the archives shown, so that a write that ends after another archive was shown
    // does not name its file as the one shown.
    quint64 shownCount_ = 0;
    // One thread: kept downloads are written in the order of the downloads.
    QThreadPool saver_;
};
