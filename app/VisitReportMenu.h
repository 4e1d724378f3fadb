#pragma once

// "Файл" → "Отчёт о посещении…" in the main window: the visit report of the archive shown. A
// build without the charts adds nothing (the report draws its charts with the chart window's
// code).

class TMainForm;

void AddVisitReportMenu(TMainForm& form);
