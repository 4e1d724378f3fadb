// "Файл" → "Отчёт о посещении…": the visit report of the archive shown, compared with the
// previous kept file of the same controller, written off the window's thread while the progress
// bar moves, then opened with the desktop's viewer as the workbook is.

#include "VisitReportMenu.h"

#include "MainForm.h"

#include "ArchiveFile.h"
#include "ArchiveOverwrite.h"
#include "GridHeadings.h"
#include "UserFolders.h"
#include "VisitReport.h"
#include "XlsxWorkbookApp.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>

#include <thread>

namespace {

class VisitReportMenu : public QObject {
public:
    explicit VisitReportMenu(TMainForm& form) : QObject(&form), form_(form) {
        auto* action = new QAction(QStringLiteral("&Отчёт о посещении…"), &form);
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
        form.addAction(action); // the shortcut works wherever the focus is in the window
        // With the archive entries, ahead of the journal and the exit.
        QAction* before = nullptr;
        for (QAction* a : form.FileMenu->actions())
            if (a->isSeparator()) {
                before = a;
                break;
            }
        form.FileMenu->insertAction(before, action);
        connect(action, &QAction::triggered, this,
                [this] { form_.RunGuarded([this] { WriteReport(); }); });
    }

private:
    void WriteReport();

    TMainForm& form_;
    FileSaveDialog dialog_; // opens with the last name chosen
};

void VisitReportMenu::WriteReport() {
    const ArchiveFileContents* shown = form_.ShownArchive();
    if (!shown) {
        form_.ShowMessage(
            QStringLiteral("Нет архива для отчёта: прочитайте данные из регулятора или "
                           "откройте файл архива."),
            MessageIcon::Information);
        return;
    }
    VisitReportInput input;
    input.visit.current = *shown;
    // A download shown is named by the file it was kept in (the dialog below still starts where
    // it would for an archive not yet in a file).
    const QString shownPath = form_.ShownArchivePath();
    input.visit.path = shownPath.isEmpty() ? form_.Session().KeptPath() : shownPath;
    FindPreviousVisit(input.visit, form_.Session().ControllerFolder());
    input.journalPath = IdentityJournalPath();
    input.settingsHeadings = SettingsHeadings();
    input.madeAt = QDateTime::currentDateTime();

    FileSaveDialog& dialog = dialog_;
    dialog.Filter = QStringLiteral("Отчёт PDF (*.pdf)|*.pdf");
    dialog.DefaultExt = QStringLiteral("*.pdf");
    dialog.OverwritePrompt = true;
    const QString base = shownPath.isEmpty()
                             ? QFileInfo(AutoSavePath(QDir::homePath(), *shown)).completeBaseName()
                             : QFileInfo(shownPath).completeBaseName();
    const QString folder =
        dialog.FileName.isEmpty()
            ? (shownPath.isEmpty() ? QDir::homePath() : QFileInfo(shownPath).absolutePath())
            : QFileInfo(dialog.FileName).absolutePath();
    dialog.FileName = QDir(folder).filePath(base + QStringLiteral("_отчёт.pdf"));
    if (!form_.Dialogs().ExecuteSave(dialog))
        return;
    const QString pdf = dialog.FileName;
    // Never over an archive: the one the report is made from, or any kept one.
    if (const QString refusal = ArchiveOverwriteRefusal(pdf, input.visit.path, ArchivesFolder());
        !refusal.isEmpty()) {
        form_.ShowMessage(QStringLiteral("Отчёт не записан: %1.").arg(refusal), MessageIcon::Error);
        return;
    }

    QProgressBar* const bar = form_.ProgressBar1;
    bar->setMaximum(100);
    bar->setValue(0);
    // The charts are widgets: they are drawn here; the rest is written on a thread of its own.
    const std::vector<ChannelPictures> charts =
        DrawReportCharts(ExtractChartSeries(shown->image, shown->channelCount));
    QEventLoop loop;
    const QPointer<QProgressBar> shownBar = bar;
    QString error;
    std::thread writer([&] {
        error = WriteVisitReport(input, charts, pdf, [&](int percent) {
            QMetaObject::invokeMethod(&loop, [shownBar, percent] {
                if (shownBar)
                    shownBar->setValue(percent);
            });
        });
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); });
    });
    loop.exec();
    writer.join();
    bar->setValue(0);
    if (!error.isEmpty()) {
        form_.ShowMessage(error + u'.', MessageIcon::Error);
        return;
    }
    if (!form_.Closing() && !CurrentWorkbookOpener()(pdf))
        form_.ShowMessage(QStringLiteral("Отчёт записан в файл %1, но открыть его нечем.")
                              .arg(QDir::toNativeSeparators(pdf)),
                          MessageIcon::Warning);
}

} // namespace

void AddVisitReportMenu(TMainForm& form) {
    new VisitReportMenu(form);
}
