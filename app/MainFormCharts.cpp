// The charts of the archive shown: "Вид" → "Графики". The chart window follows the window: each
// archive shown (a download or an opened file) is drawn in it at once.

#include "MainForm.h"

#include "ArchiveFile.h"
#include "ChartWindow.h"
#include "UserFolders.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>

namespace {

ChartArchive ToChartArchive(const ArchiveFileContents& contents, const QString& path) {
    ChartArchive archive;
    archive.image = contents.image;
    archive.channelCount = contents.channelCount;
    archive.identification = contents.identification;
    archive.serial = contents.serial;
    archive.path = path;
    archive.downloadedAt = contents.downloadedAt;
    // Comparisons are looked for beside the file shown, or among the kept downloads of this
    // controller.
    archive.folder = path.isEmpty()
                         ? QFileInfo(AutoSavePath(ArchivesFolder(), contents)).absolutePath()
                         : QFileInfo(path).absolutePath();
    return archive;
}

std::optional<ChartArchive> ReadChartArchive(const QString& path, QString& error) {
    const ArchiveFileReadResult read = ReadArchiveFile(path);
    if (!read.contents) {
        error = read.error;
        return std::nullopt;
    }
    return ToChartArchive(*read.contents, path);
}

} // namespace

void TMainForm::AddChartsMenu() {
    QAction* action = ViewMenu->addAction(QStringLiteral("&Графики"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    addAction(action); // the shortcut works wherever the focus is in the window
    connect(action, &QAction::triggered, this, [this] { RunHandler(&TMainForm::ShowChartsClick); });
    connect(this, &TMainForm::ArchiveShown, this, [this] {
        if (charts_ && charts_->isVisible())
            charts_->ShowArchive(ToChartArchive(*ShownArchive(), ShownArchivePath()));
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
        charts_ = new ChartWindow({nullptr, ReadChartArchive}, this);
        connect(charts_, &ChartWindow::RecordActivated, this, [this](int channel, int row) {
            SelectRecordRow(channel, row);
            activateWindow();
            raise();
        });
    }
    charts_->ShowArchive(ToChartArchive(*shown, ShownArchivePath()));
    charts_->show();
    charts_->raise();
    charts_->activateWindow();
}
