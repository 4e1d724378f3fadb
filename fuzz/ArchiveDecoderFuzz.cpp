// fuzz_archive_decoder: an archive image of any length for one or two channels, decoded into the
// grids the window holds. The first input byte chooses the channel count (bit 0) and whether the
// data grids start larger or smaller than the decode leaves them (bit 1); the rest is the image.
// Each decoded data grid ends with the geometry's record count plus the heading row; the
// settings grids keep their rows; the grids of a channel not decoded are not touched; a row
// shows its number exactly when its record lies whole in the image and carries the marker.

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "FuzzCheck.h"
#include "TextGrid.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

constexpr int kSettingsRows = SettingsBlockCount + 1; // heading row and four blocks

bool RecordValid(const QByteArray& image, qsizetype offset, bool settings) {
    if (offset + ArchiveRecordSize > image.size())
        return false;
    const auto* r = reinterpret_cast<const std::uint8_t*>(image.constData()) + offset;
    if (settings)
        return r[31] == SettingsBlockMarker;
    return (r[28] | (r[29] << 8) | (r[30] << 16) | (static_cast<std::uint32_t>(r[31]) << 24)) ==
           DataRecordMarker;
}

// Column 0 of each row: its number for a valid record, empty otherwise.
void CheckRows(const TextGrid& grid, const QByteArray& image, qsizetype offset, int rows,
               bool settings) {
    for (int row = 1; row <= rows; ++row, offset += ArchiveRecordSize) {
        const QString expected =
            RecordValid(image, offset, settings) ? QString::number(row) : QString();
        KV_FUZZ_CHECK(grid.Cell(0, row) == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int channels = (data[0] & 1) ? 2 : 1;
    const int startRows = (data[0] & 2) ? 10 : 8445;
    const QByteArray image(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    const ArchiveGeometry geometry = GeometryFor(channels);

    TextGrid grids[4] = {{DataGridColumns, startRows},
                         {SettingsGridColumns, kSettingsRows},
                         {DataGridColumns, startRows},
                         {SettingsGridColumns, kSettingsRows}};
    const QString untouched = QStringLiteral("untouched");
    for (TextGrid& g : grids)
        g.SetCell(1, 1, untouched);
    DecodeArchive(image, channels, geometry.recordCount,
                  {&grids[0], &grids[1], &grids[2], &grids[3]});

    for (int k = 0; k < MaxChannelCount; ++k) {
        TextGrid& records = grids[2 * k];
        TextGrid& settings = grids[2 * k + 1];
        KV_FUZZ_CHECK(settings.RowCount() == kSettingsRows);
        if (k >= channels) {
            KV_FUZZ_CHECK(records.RowCount() == startRows);
            KV_FUZZ_CHECK(records.Cell(1, 1) == untouched && settings.Cell(1, 1) == untouched);
            continue;
        }
        KV_FUZZ_CHECK(records.RowCount() == geometry.recordCount + 1);
        const qsizetype start = static_cast<qsizetype>(k) * geometry.channelBlockSize;
        CheckRows(records, image, start, geometry.recordCount, false);
        CheckRows(settings, image, start + geometry.recordAreaSize, SettingsBlockCount, true);
    }
    return 0;
}
