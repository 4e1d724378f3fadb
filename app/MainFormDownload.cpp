// The archive download: "Прочитать данные из регулятора".

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "ArchiveDownload.h"
#include "ArchiveGeometry.h"
#include "TimeLeft.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

void TMainForm::bt_DF_ReadClick() {
    // The bar keeps its position until the first block arrives: a bar left full by an earlier
    // run stays full until then.
    ProgressBar1->setMaximum(ArchiveSize);

    // Closing the window while the run lets it process its messages sets Closing() (and closes
    // the port); the run then ends at its next block without touching the window again.
    const QPointer<TMainForm> self(this);
    DownloadHooks hooks;
    hooks.processEvents = [this] { ProcessEvents(); };
    hooks.cancelled = [self] { return !self || self->Closing(); };
    hooks.onTxFailures = [this](int count) {
        lbTXE->setText(QString::number(count));
        repaint();
    };
    hooks.onRxFailures = [this](int count) {
        lbRXE->setText(QString::number(count));
        repaint();
    };
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

    const DownloadResult result = DownloadArchive(hooks);
    if (self) {
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setFormat(QStringLiteral("%p%"));
    }
    switch (result.outcome) {
    case DownloadOutcome::Completed:
        // The controller's archive replaces a file shown (a failed run leaves the file view).
        if (FileViewShown())
            LeaveFileView();
        DecodeArchive(result.image, ChannelCount, RecordCount,
                      {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
        KeepDownload(result.image); // saved to a file off this thread
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
