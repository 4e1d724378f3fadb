#include "MainForm.h"

#include "ExcelExport.h"
#include "ExportProgress.h"
#include "ExportSource.h"
#include "SystemExcel.h"
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
    hooks.start = [this]() -> std::shared_ptr<ExcelApplication> {
        if (SystemMayHaveExcel()) {
            if (auto excel = StartSystemExcel())
                return excel;
            // Without Excel the user is told so, and our own workbook application takes over.
            if (!Closing())
                Dialogs().ShowMessageBox(kNoExcelText, QStringLiteral("Ошибка"), MessageIcon::Error,
                                         MbOk);
        }
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
