#include "MainForm.h"

#include "ExcelExport.h"
#include "ExportProgress.h"
#include "ExportSource.h"
#include "XlsxWorkbookApp.h"

#include <QProgressBar>

ExportProgress TMainForm::ExportProgressHooks() {
    ExportProgress progress;
    progress.setMax = [this](int max) {
        ProgressBar1->setRange(0, max);
        ProgressBar1->setValue(0);
    };
    progress.step = [this] { ProgressBar1->setValue(ProgressBar1->value() + 1); };
    progress.processEvents = [this] { ProcessEvents(); };
    progress.cancelled = [this] { return Closing(); };
    return progress;
}

void TMainForm::btExportToExelClick() {
    ExcelExportHooks hooks;
    hooks.start = [] {
        XlsxApplicationOptions options;
        options.opener = CurrentWorkbookOpener();
        return MakeXlsxApplication(options);
    };
    hooks.showError = [this](const QString& text) {
        if (!Closing())
            Dialogs().ShowMessageBox(text, QStringLiteral("Ошибка"), MessageIcon::Error, MbOk);
    };
    hooks.progress = ExportProgressHooks();
    // A failure to name a sheet or to show the workbook leaves as an ExportError, which the
    // window shows with its own text.
    ExcelExport({ExcelApp, ExcelSheet}, std::move(hooks)).Run(CurrentExportSource());
}
