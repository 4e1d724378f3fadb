#pragma once

// Excel itself, where the system can have it. On Windows the export reaches Excel's own
// application object (Excel.Application: a running instance, else a new one) by late-bound
// automation calls; our workbook application (XlsxWorkbookApp.h) is the fallback where Excel is
// absent, and the only workbook application elsewhere.

#include "ExcelAutomation.h"

#include <memory>

// Whether this system's exports try Excel itself first.
bool SystemMayHaveExcel();

// Excel's application object; null when Excel is absent or cannot be started (and always where
// SystemMayHaveExcel is false).
std::shared_ptr<ExcelApplication> StartSystemExcel();
