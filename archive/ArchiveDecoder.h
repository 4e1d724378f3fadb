#pragma once

// Turns a downloaded archive image into the texts of the four grids of the window. The grids are
// the only place the decoded archive lives: the exporters read these texts and never the image.
//
// A data record (32 bytes) becomes one row of a data grid (14 columns), a settings block
// (32 bytes) one row of a settings grid (16 columns). A record or block whose marker is wrong
// (erased flash, never written, damaged) becomes a row whose every cell is empty, column 0
// included; nothing else is validated, so bytes that are not BCD show their hex digits and
// numbers are shown whatever their range.

#include "TextGrid.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

constexpr int DataGridColumns = 14;
constexpr int SettingsGridColumns = 16;
constexpr std::uint32_t DataRecordMarker = 0x1233; // bytes 28..31, little-endian
constexpr std::uint8_t SettingsBlockMarker = 0x51; // byte 31 ('Q')
constexpr int TenthsSentinel = -3000;              // "no value" in most tenths columns

// A value in tenths as text with one decimal and a comma, whatever the locale: 215 -> "21,5",
// -1 -> "-0,1", 32767 -> "3276,7", -32768 -> "-3276,8". The sentinel -3000 gives "???,?".
QString FormatTenths(int value);
// The same without the sentinel: -3000 gives "-300,0".
QString FormatTenthsPlain(int value);

// Writes one 32-byte data record into row `row` (1-based) of a data grid, or empties the row
// when bytes 28..31 are not 33 12 00 00. Column 0 gets the row number.
void FillDataRow(TextGrid& grid, int row, const std::uint8_t* record32);
// The same for one 32-byte settings block and a settings grid; valid only when byte 31 is 0x51.
void FillSettingsRow(TextGrid& grid, int row, const std::uint8_t* block32);

// Channel `channel`'s (1 or 2) settings blocks of image as the settings grid shows them, in rows
// 1 to 4 of a grid of their own; rows of blocks the image lacks stay empty.
TextGrid DecodeSettingsRows(const QByteArray& image, int channelCount, int channel);

// Fills the grids of channels 1..channelCount from the image, read strictly in order: channel
// 1's recordCount records and 4 settings blocks, then channel 2's. grids are StringGrid1..4: for
// channel k (from 0) the data grid is entry 2k, the settings grid entry 2k + 1. Each data grid
// decoded gets recordCount + 1 rows; rows 1..4 of each settings grid are rewritten. The grids of
// channels beyond channelCount are not touched; a null grid is skipped. An image too short for
// some record or block leaves that row empty; nothing is read past the end of the image. Each
// grid's listener hears one reset for the whole run and no notice per cell.
void DecodeArchive(const QByteArray& image, int channelCount, int recordCount,
                   std::array<TextGrid*, 4> grids);
