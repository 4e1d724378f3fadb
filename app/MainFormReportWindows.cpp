// The Windows build has no chart code (its plotting library is not cross-built), so no visit
// report either: the menu entry is left out.

#include "MainForm.h"

void TMainForm::AddReportMenu() {}

void TMainForm::VisitReportClick() {}
