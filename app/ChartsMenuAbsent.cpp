// A build without the charts (KV_CHARTS off): "Вид" gets no entry and stays hidden.

#include "ChartsMenu.h"

void AddChartsMenu(TMainForm&) {}
