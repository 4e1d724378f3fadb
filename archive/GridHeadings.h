#pragma once

// Row 0 of the grids. In "tвозд", "tц." and "tпост." the first letter is the Latin t; every
// other Т is Cyrillic.

#include <QStringList>

class TextGrid;

const QStringList& DataHeadings();     // the data grids, 14 columns
const QStringList& SettingsHeadings(); // the settings grids, 16 columns

// Writes headings into row 0, column by column for the grid's column count.
void WriteHeadings(TextGrid& grid, const QStringList& headings);
