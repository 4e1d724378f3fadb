// The archive download: "Прочитать данные из регулятора".

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "ArchiveDownload.h"
#include "ArchiveGeometry.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "ServiceSession.h"
#include "StatusPanels.h"
#include "TimeLeft.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

namespace {

QString AnotherControllerNotice(const ArchiveFileContents& kept) {
    const QString serial =
        kept.serial ? QString::number(*kept.serial) : QStringLiteral("неизвестен");
    return QStringLiteral("На линии другой регулятор (серийный номер %1, %2): загруженный архив "
                          "сохранён под ним. Прочитайте данные регулятора, чтобы увидеть его.")
        .arg(serial, kept.identification);
}

} // namespace

void TMainForm::ShowFailureCount(QLabel* label, int count) {
    label->setText(QString::number(count));
    repaint();
}

void TMainForm::bt_DF_ReadClick() {
    link_.ReconnectIfLost(); // a port on the network lost earlier
    // The bar keeps its position until the first block arrives: a bar left full by an earlier
    // run stays full until then.
    ProgressBar1->setMaximum(ArchiveSize);

    // Closing the window while the run lets it process its messages sets Closing() (and closes
    // the port); the run then ends at its next block without touching the window again.
    const QPointer<TMainForm> self(this);
    DownloadHooks hooks;
    WireDownloadHooks(hooks);
    // The bar shows the time left, from the rate so far, while the run lasts.
    QElapsedTimer clock;
    clock.start();
    ProgressBar1->setFormat(QString());
    ProgressBar1->setTextVisible(true);
    hooks.onProgress = [this, &clock](int offset) {
        ProgressBar1->setValue(offset);
        if (const auto left = EstimateSecondsLeft(offset, ArchiveSize, clock.elapsed() / 1000.0))
            ProgressBar1->setFormat(FormatTimeLeft(*left));
    };

    const DownloadResult result = DownloadArchive(link_, hooks);
    if (self) {
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setFormat(QStringLiteral("%p%"));
    }
    switch (result.outcome) {
    case DownloadOutcome::Completed: {
        // The controller's archive replaces a file shown (a failed run leaves the file view).
        if (FileViewShown())
            LeaveFileView();
        // Asked after the last block, so that a moved cable cannot put the archive under the
        // controller read before.
        const ServiceSession::KeptDownload kept =
            session_->KeepDownload(result.image, link_.CurrentPortLabel(),
                                   ReadControllerOnLine(link_), QDateTime::currentDateTime());
        DecodeArchive(result.image, session_->ChannelCount(), session_->Geometry().recordCount,
                      {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
        if (kept.anotherController)
            StatusBar->ShowNotice(AnotherControllerNotice(kept.contents));
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
