#pragma once

// "Вид" → "Графики" in the main window: the chart window of the archive shown, which then follows
// the window (each archive shown, a download or an opened file, is drawn in it at once). A build
// without the charts adds nothing, and "Вид" stays hidden like every empty menu.

class TMainForm;

void AddChartsMenu(TMainForm& form);
