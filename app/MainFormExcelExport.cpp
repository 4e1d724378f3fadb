#include "MainForm.h"

void TMainForm::btExportToExelClick() {}
