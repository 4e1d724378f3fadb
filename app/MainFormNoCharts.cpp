// The Windows build has no chart window: its plotting library is not cross-built here. "Вид"
// gets no entry and stays hidden, like every empty menu.

#include "MainForm.h"

void TMainForm::AddChartsMenu() {}

void TMainForm::ShowChartsClick() {}
