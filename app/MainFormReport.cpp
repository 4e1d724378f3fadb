// "Файл" → "Отчёт о посещении…": the visit report of the archive shown, compared with the
// previous kept file of the same controller, written off the window's thread while the progress
// bar moves, then opened with the desktop's viewer as the workbook is.

#include "MainForm.h"

#include "ArchiveFile.h"
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

void TMainForm::AddReportMenu() {
    auto* action = new QAction(QStringLiteral("&Отчёт о посещении…"), this);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    addAction(action); // the shortcut works wherever the focus is in the window
    // With the archive entries, ahead of the journal and the exit.
    QAction* before = nullptr;
    for (QAction* a : FileMenu->actions())
        if (a->isSeparator()) {
            before = a;
            break;
        }
    FileMenu->insertAction(before, action);
    connect(action, &QAction::triggered, this,
            [this] { RunGuarded(&TMainForm::VisitReportClick); });
}

void TMainForm::VisitReportClick() {
    const ArchiveFileContents* shown = ShownArchive();
    if (!shown) {
        ShowMessage(QStringLiteral("Нет архива для отчёта: прочитайте данные из регулятора или "
                                   "откройте файл архива."),
                    MessageIcon::Information);
        return;
    }
    VisitReportInput input;
    input.visit.current = *shown;
    input.visit.path = ShownArchivePath();
    FindPreviousVisit(input.visit, Session().ControllerFolder());
    input.journalPath = IdentityJournalPath();
    input.settingsHeadings = SettingsHeadings();
    input.madeAt = QDateTime::currentDateTime();

    static FileSaveDialog dialog; // opens with the last name chosen
    dialog.Filter = QStringLiteral("Отчёт PDF (*.pdf)|*.pdf");
    dialog.DefaultExt = QStringLiteral("*.pdf");
    dialog.OverwritePrompt = true;
    const QString base = input.visit.path.isEmpty()
                             ? QFileInfo(AutoSavePath(QDir::homePath(), *shown)).completeBaseName()
                             : QFileInfo(input.visit.path).completeBaseName();
    const QString folder =
        dialog.FileName.isEmpty()
            ? (input.visit.path.isEmpty() ? QDir::homePath()
                                          : QFileInfo(input.visit.path).absolutePath())
            : QFileInfo(dialog.FileName).absolutePath();
    dialog.FileName = QDir(folder).filePath(base + QStringLiteral("_отчёт.pdf"));
    if (!Dialogs().ExecuteSave(dialog))
        return;
    const QString pdf = dialog.FileName;

    ProgressBar1->setMaximum(100);
    ProgressBar1->setValue(0);
    // The charts are widgets: they are drawn here; the rest is written on a thread of its own.
    const std::vector<ChannelPictures> charts =
        DrawReportCharts(ExtractChartSeries(shown->image, shown->channelCount));
    QEventLoop loop;
    QPointer<QProgressBar> bar = ProgressBar1;
    QString error;
    std::thread writer([&] {
        error = WriteVisitReport(input, charts, pdf, [&](int percent) {
            QMetaObject::invokeMethod(&loop, [bar, percent] {
                if (bar)
                    bar->setValue(percent);
            });
        });
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); });
    });
    loop.exec();
    writer.join();
    ProgressBar1->setValue(0);
    if (!error.isEmpty()) {
        ShowMessage(error + u'.', MessageIcon::Error);
        return;
    }
    if (!Closing() && !CurrentWorkbookOpener()(pdf))
        ShowMessage(QStringLiteral("Отчёт записан в файл %1, но открыть его нечем.")
                        .arg(QDir::toNativeSeparators(pdf)),
                    MessageIcon::Warning);
}
