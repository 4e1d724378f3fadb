// The charts of the archive shown: "Вид" → "Графики". The chart window follows the window: each
// archive shown (a download or an opened file) is drawn in it at once.

#include "MainForm.h"

#include "ChartWindow.h"

#include <QAction>
#include <QMenu>

void TMainForm::AddChartsMenu() {
    QAction* action = ViewMenu->addAction(QStringLiteral("&Графики"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    addAction(action); // the shortcut works wherever the focus is in the window
    connect(action, &QAction::triggered, this, [this] { RunHandler(&TMainForm::ShowChartsClick); });
    connect(this, &TMainForm::ArchiveShown, this, [this] {
        if (charts_ && charts_->isVisible())
            charts_->ShowArchive(*ShownArchive(), ShownArchivePath(), Session().ControllerFolder());
    });
}

void TMainForm::ShowChartsClick() {
    const ArchiveFileContents* shown = ShownArchive();
    if (!shown) {
        ShowMessage(QStringLiteral("Нет архива для графиков: прочитайте данные из регулятора или "
                                   "откройте файл архива."),
                    MessageIcon::Information);
        return;
    }
    if (!charts_) {
        // A window of its own, closed with this one; closing it only hides it.
        charts_ = new ChartWindow({}, this);
        connect(charts_, &ChartWindow::RecordActivated, this, [this](int channel, int row) {
            SelectRecordRow(channel, row);
            activateWindow();
            raise();
        });
    }
    charts_->ShowArchive(*shown, ShownArchivePath(), Session().ControllerFolder());
    charts_->show();
    charts_->raise();
    charts_->activateWindow();
}
