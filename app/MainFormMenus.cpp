// The menu bar above the design's arrangement: every feature beyond the design adds its actions
// here, one call per feature, in the order its entries appear.

#include "MainForm.h"

#include "ArchiveFileMenu.h"
#include "ChartsMenu.h"
#include "LibraryMenu.h"
#include "ServiceTools.h"
#include "VisitReportMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

void TMainForm::BuildMenus() {
    new ArchiveFileMenu(*this); // "Файл": archive files, journal, exit; "Справка": about
    service_ = new ServiceTools(*this);
    AddChartsMenu(*this);      // "Вид": the charts of the archive shown
    AddVisitReportMenu(*this); // "Файл": the visit report of the archive shown
    AddLibraryMenu(*this);     // "Файл": the library of every visit

    // A menu whose feature added nothing stays out of the bar.
    for (QMenu* menu : {FileMenu, ViewMenu, ServiceMenu, HelpMenu})
        menu->menuAction()->setVisible(!menu->isEmpty());
}
