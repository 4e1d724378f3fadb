#include "SystemExcel.h"

// No Excel outside Windows.

bool SystemMayHaveExcel() {
    return false;
}

std::shared_ptr<ExcelApplication> StartSystemExcel() {
    return nullptr;
}
