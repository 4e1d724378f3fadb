// "Сервис" → "Прочитать новые записи": the download of only what changed since the controller's
// last kept download, shown and kept as a download is; the status bar says how much was read, or
// why the whole archive was.

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "BlocksReadText.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "NewRecordsRead.h"
#include "ServiceSession.h"
#include "StatusPanels.h"
#include "TimeLeft.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QRandomGenerator>

void TMainForm::NewRecordsClick() {
    const QPointer<TMainForm> self(this);
    NewRecordsDownloadHooks hooks;
    WireDownloadHooks(hooks);
    QString wholeCause;
    hooks.onWholeRead = [this, &wholeCause](const QString& cause) {
        wholeCause = cause;
        StatusBar->ShowNotice(QStringLiteral("Читается весь архив: %1").arg(cause));
    };
    // The bar runs over the blocks actually read, with the time left from the rate so far.
    QElapsedTimer clock;
    clock.start();
    ProgressBar1->setFormat(QString());
    ProgressBar1->setTextVisible(true);
    hooks.onBlocks = [this, &clock](int done, int total) {
        ProgressBar1->setMaximum(std::max(total, 1));
        ProgressBar1->setValue(done);
        if (const auto left = EstimateSecondsLeft(done, total, clock.elapsed() / 1000.0))
            ProgressBar1->setFormat(FormatTimeLeft(*left));
    };

    const ServiceSession& session = *session_;
    const EarlierDownload earlier =
        FindEarlierDownload(session.KeptFolder(), session.LastRead().serial,
                            session.ControllerChannels(), session.LastIdentification());
    const NewRecordsDownloadResult result =
        DownloadNewRecords(link_, earlier.image, session.ControllerChannels(), earlier.cause, hooks,
                           QRandomGenerator::global()->generate64());
    if (self) {
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setFormat(QStringLiteral("%p%"));
    }
    switch (result.download.outcome) {
    case DownloadOutcome::Completed: {
        if (FileViewShown())
            LeaveFileView();
        const bool onlyNew = result.wholeReadCause.isEmpty();
        const ServiceSession::KeptDownload kept =
            session_->KeepDownload(result.download.image, link_.CurrentPortName(),
                                   ReadControllerOnLine(link_), QDateTime::currentDateTime(),
                                   onlyNew ? std::optional(result.blocksRead) : std::nullopt);
        DecodeArchive(result.download.image, session_->ChannelCount(),
                      session_->Geometry().recordCount, {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
        if (kept.anotherController)
            StatusBar->ShowNotice(
                QStringLiteral("На линии другой регулятор: загруженный архив сохранён под ним."));
        else if (onlyNew)
            StatusBar->ShowNotice(
                QStringLiteral("Новые записи: %1").arg(BlocksReadText(result.blocksRead)));
        else
            StatusBar->ShowNotice(QStringLiteral("Прочитан весь архив: %1").arg(wholeCause));
        emit ArchiveShown();
        break;
    }
    case DownloadOutcome::TxError:
        ShowMessage(QStringLiteral("TX Error"));
        break;
    case DownloadOutcome::RxError:
        ShowMessage(QStringLiteral("RX Error"));
        break;
    case DownloadOutcome::Cancelled:
        break;
    }
}
