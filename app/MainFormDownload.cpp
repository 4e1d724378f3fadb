// The window's two reads of the controller's archive, on one path: "Прочитать данные из
// регулятора" (the whole archive) and "Сервис" → "Прочитать новые записи" (only what changed
// since the controller's last kept download; the status bar says how much was read, or why the
// whole archive was). Either is shown and kept as a download is.

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "FrameLink.h"
#include "ServiceSession.h"
#include "SessionRead.h"
#include "StatusPanels.h"
#include "TimeLeft.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QRandomGenerator>

#include <algorithm>

void TMainForm::bt_DF_ReadClick() {
    ReadArchive(SessionReadKind::WholeArchive);
}

void TMainForm::NewRecordsClick() {
    ReadArchive(SessionReadKind::NewRecords);
}

void TMainForm::ReadArchive(SessionReadKind kind) {
    link_.ReconnectIfLost(); // a port on the network lost earlier
    // The bar keeps its position until the first block arrives: a bar left full by an earlier
    // run stays full until then.
    ProgressBar1->setMaximum(ArchiveSize);

    // The run lets the window process its messages once per block. Closing the window then sets
    // Closing() (and closes the port); the run ends at its next block without touching the
    // window again.
    const QPointer<TMainForm> self(this);
    SessionReadHooks hooks;
    hooks.processEvents = [this] { ProcessEvents(); };
    hooks.cancelled = [self] { return !self || self->Closing(); };
    // A failure count in its label, shown at once (the run is on the window's thread).
    const auto showCount = [this](QLabel* label) {
        return [this, label](int count) {
            label->setText(QString::number(count));
            repaint();
        };
    };
    hooks.onTxFailures = showCount(lbTXE);
    hooks.onRxFailures = showCount(lbRXE);
    hooks.onWholeRead = [this](const QString& cause) {
        StatusBar->ShowNotice(QStringLiteral("Читается весь архив: %1").arg(cause));
    };
    // The bar shows the time left, from the rate so far, while the run lasts.
    QElapsedTimer clock;
    clock.start();
    ProgressBar1->setFormat(QString());
    ProgressBar1->setTextVisible(true);
    hooks.onProgress = [this, &clock](int done, int total) {
        ProgressBar1->setMaximum(std::max(total, 1));
        ProgressBar1->setValue(done);
        if (const auto left = EstimateSecondsLeft(done, total, clock.elapsed() / 1000.0))
            ProgressBar1->setFormat(FormatTimeLeft(*left));
    };

    // The controller's archive replaces a file shown (a failed run leaves the file view).
    const bool fileView = FileViewShown();
    const SessionRead read = ReadIntoSession(*session_, link_, kind, link_.CurrentPortLabel(),
                                             hooks, QRandomGenerator::global()->generate64());
    if (self) {
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setFormat(QStringLiteral("%p%"));
    }
    switch (read.outcome) {
    case DownloadOutcome::Completed:
        if (fileView)
            LeaveFileView();
        DecodeArchive(read.kept.contents.image, session_->ChannelCount(),
                      session_->Geometry().recordCount, {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
        if (const QString notice = SessionReadNotice(read); !notice.isEmpty())
            StatusBar->ShowNotice(notice);
        emit ArchiveShown();
        break;
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
