#include "MainForm.h"

void TMainForm::bt_DF_ReadClick() {}
