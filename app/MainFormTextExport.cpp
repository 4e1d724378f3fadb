#include "MainForm.h"

void TMainForm::btSaveToTxtClick() {}
