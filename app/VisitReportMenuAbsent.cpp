// A build without the charts (KV_CHARTS off) has no visit report either, as the report draws its
// charts with the chart window's code: the menu entry is left out.

#include "VisitReportMenu.h"

void AddVisitReportMenu(TMainForm&) {}
