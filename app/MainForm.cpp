// What every handler of the window leans on: the busy guard, exceptions shown in a message box,
// the message box itself, the status panels, the grids and one pass of the event loop. Nothing
// here calls a handler by name, so every other part of the window may use it.

#include "MainForm.h"

#include "StatusPanels.h"
#include "StringGrid.h"

#include <QApplication>
#include <QScopedValueRollback>

const QString kApplicationTitle = QStringLiteral("КВ-9000Л");

void TMainForm::RunGuarded(const std::function<void()>& handler) {
    if (busy_ || closing_)
        return;
    // Released on every way out, whatever leaves the handler.
    const QScopedValueRollback<bool> busy(busy_, true);
    RunHandler(handler);
}

void TMainForm::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowMessage(QStringLiteral("Unknown error"), MessageIcon::Error, MbOk);
    }
}

void TMainForm::ShowException(const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()), MessageIcon::Error, MbOk);
}

int TMainForm::ShowMessage(const QString& text, MessageIcon icon, int buttons) {
    return dialogs_->ShowMessageBox(text, kApplicationTitle, icon, buttons);
}

QString TMainForm::StatusText(int panel) const {
    return StatusBar->PanelText(panel);
}

void TMainForm::SetStatusText(int panel, const QString& text) {
    StatusBar->SetPanelText(panel, text);
}

TextGrid& TMainForm::Grid(int index) const {
    StringGrid* grids[] = {StringGrid1, StringGrid2, StringGrid3, StringGrid4};
    return grids[std::clamp(index, 0, 3)]->Cells();
}

void TMainForm::ProcessEvents() {
    QApplication::processEvents();
}
