#include "MainForm.h"

void TMainForm::btExportToOOoClick() {}
