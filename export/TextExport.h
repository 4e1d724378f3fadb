#pragma once

// The tab-separated text file of the archive: the heading lines, then per channel a settings
// section and a data section.
//
// The file is 8-bit Windows-1251 without a byte-order mark, every line (the last one too) ends
// with CR LF. Sections are separated by one empty line; a file of one channel (channel count 0
// or 1) ends with one empty line after its data section, a file of two channels ends with its last
// data line. A grid contributes its rows from the heading row on, leaving out every row whose
// column-0 text is empty; a written row is each cell's text followed by a TAB, so a line has as
// many TABs as its grid has columns.

#include "ExportSource.h"

#include <QByteArray>
#include <QString>

// The whole file, built in memory. The grids of channel 2 are read only with two channels.
QByteArray BuildTextExport(const ExportSource& source);

// Writes bytes to path, replacing an existing file only once every byte is on disk: a failure
// leaves an earlier file at path as it was. Throws ExportError "Cannot create file <path>" when
// the file cannot be created and "Stream write error" when writing or completing it fails.
void WriteTextFile(const QString& path, const QByteArray& bytes);
