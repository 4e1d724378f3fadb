// The library needs Qt SQL, which the Windows build does not carry: no menu entry, nothing kept
// in an index.

#include "MainForm.h"

void TMainForm::AddLibraryMenu() {}
void TMainForm::ShowLibraryClick() {}
void TMainForm::AddToLibrary(const QString&) {}
