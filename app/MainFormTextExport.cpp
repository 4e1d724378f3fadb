#include "MainForm.h"

#include "ServiceSession.h"

#include "ExportSource.h"
#include "HeadingLines.h"
#include "SpinEdit.h"
#include "TextExport.h"

#include <QLabel>
#include <QLineEdit>

ExportSource TMainForm::CurrentExportSource() const {
    ExportSource source;
    source.headings = MakeHeadingLines(StatusText(1), lbSerial->text(), speSerial->value(),
                                       lbComment->text(), edComment->text());
    source.channelCount = session_->ChannelCount();
    source.grid1 = &Grid(0);
    source.grid2 = &Grid(1);
    source.grid3 = &Grid(2);
    source.grid4 = &Grid(3);
    return source;
}

void TMainForm::btSaveToTxtClick() {
    if (!Dialogs().ExecuteSave(SaveDialog))
        return;
    // Collected after the dialog closes, so the file shows the window as it stands then. A file
    // that cannot be created or written raises the error the window shows; an earlier file at
    // that path stays as it was.
    WriteTextFile(SaveDialog.FileName, BuildTextExport(CurrentExportSource()));
}
