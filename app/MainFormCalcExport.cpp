#include "MainForm.h"

#include "CalcExport.h"
#include "ExportProgress.h"
#include "ExportSource.h"
#include "OOCalcAuto.h"

void TMainForm::btExportToOOoClick() {
    // Each export has an automation object of its own, gone when the export ends; the document
    // stays open in the office. An error of the office after connecting leaves as ExportError and
    // the window shows its text.
    const CalcExportResult result = ExportToCalc(CurrentExportSource(), ExportProgressHooks(),
                                                 [] { return std::make_unique<OOCalcAuto>(); });
    if (result == CalcExportResult::NotConnected && !Closing())
        Dialogs().ShowMessageBox(QString::fromUtf16(CalcNotConnectedText),
                                 QString::fromUtf16(CalcNotConnectedCaption), MessageIcon::None,
                                 MbOk);
}
