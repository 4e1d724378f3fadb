#include "ArchiveDecoder.h"

#include "ArchiveGeometry.h"
#include "RecordBytes.h"

#include <algorithm>

namespace {

QString FromUtf16(const char16_t* begin, const char16_t* end) {
    return QString(reinterpret_cast<const QChar*>(begin), static_cast<qsizetype>(end - begin));
}

// Writes the decimal digits of u so that they end just before `end`; returns their start.
char16_t* PutDigits(char16_t* end, std::uint32_t u) {
    do {
        *--end = static_cast<char16_t>(u'0' + u % 10);
        u /= 10;
    } while (u != 0);
    return end;
}

std::uint32_t Magnitude(int value) {
    // Unsigned negation is exact for every int, the most negative one included.
    return value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
}

QString DecimalText(int value) {
    char16_t buf[16];
    char16_t* const end = buf + 16;
    char16_t* p = PutDigits(end, Magnitude(value));
    if (value < 0)
        *--p = u'-';
    return FromUtf16(p, end);
}

// Three bytes as their upper-case hex digits joined by a separator: "15.03.10", "08:30:45".
QString HexTriple(std::uint8_t a, std::uint8_t b, std::uint8_t c, char16_t separator) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    const char16_t text[8] = {kHex[a >> 4], kHex[a & 15], separator,    kHex[b >> 4],
                              kHex[b & 15], separator,    kHex[c >> 4], kHex[c & 15]};
    return FromUtf16(text, text + 8);
}

QString DateText(const std::uint8_t* p) {
    return HexTriple(p[4], p[5], p[6], u'.'); // day, month, year
}

QString TimeText(const std::uint8_t* p) {
    return HexTriple(p[2], p[1], p[0], u':'); // hours, minutes, seconds
}

} // namespace

QString FormatTenthsPlain(int value) {
    // Exact integer arithmetic: value / 10 with one decimal, never rounded through a double.
    const std::uint32_t u = Magnitude(value);
    char16_t buf[16];
    char16_t* const end = buf + 16;
    char16_t* p = end;
    *--p = static_cast<char16_t>(u'0' + u % 10);
    *--p = u',';
    p = PutDigits(p, u / 10);
    if (value < 0)
        *--p = u'-';
    return FromUtf16(p, end);
}

QString FormatTenths(int value) {
    if (value == TenthsSentinel)
        return QStringLiteral("???,?");
    return FormatTenthsPlain(value);
}

void FillDataRow(TextGrid& grid, int row, const std::uint8_t* r) {
    if (UInt32At(r, 28) != DataRecordMarker) {
        grid.ClearRow(row);
        return;
    }
    grid.SetCell(0, row, DecimalText(row));
    grid.SetCell(1, row, DateText(r));
    grid.SetCell(2, row, TimeText(r));
    for (int i = 0; i < 9; ++i) // supply, return, ... required temperature
        grid.SetCell(3 + i, row, FormatTenths(Int16At(r, 7 + 2 * i)));
    grid.SetCell(12, row, DecimalText(Int16At(r, 25)));
    grid.SetCell(13, row, DecimalText(r[27]));
}

void FillSettingsRow(TextGrid& grid, int row, const std::uint8_t* b) {
    if (b[31] != SettingsBlockMarker) {
        grid.ClearRow(row);
        return;
    }
    grid.SetCell(0, row, DecimalText(row));
    grid.SetCell(1, row, DateText(b));
    grid.SetCell(2, row, TimeText(b));
    grid.SetCell(3, row, DecimalText(b[7]));
    grid.SetCell(4, row, DecimalText(b[8]));
    grid.SetCell(5, row, FormatTenthsPlain(Int16At(b, 9)));
    grid.SetCell(6, row, FormatTenthsPlain(Int16At(b, 11)));
    grid.SetCell(7, row, FormatTenths(Int16At(b, 13)));
    grid.SetCell(8, row, FormatTenths(Int16At(b, 15)));
    for (int i = 0; i < 6; ++i) // coefficients and times
        grid.SetCell(9 + i, row, DecimalText(Int16At(b, 17 + 2 * i)));
    grid.SetCell(15, row, FormatTenthsPlain(Int16At(b, 29)));
}

void DecodeArchive(const QByteArray& image, int channelCount, int recordCount,
                   std::array<TextGrid*, 4> grids) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.constData());
    const qsizetype size = image.size();
    recordCount = std::max(recordCount, 0);
    channelCount = std::min(channelCount, MaxChannelCount);

    // The image is consumed in order; a record that does not fit whole is shown empty.
    qsizetype offset = 0;
    auto next = [&]() -> const std::uint8_t* {
        const std::uint8_t* p = offset + ArchiveRecordSize <= size ? bytes + offset : nullptr;
        offset += ArchiveRecordSize;
        return p;
    };

    for (int k = 0; k < channelCount; ++k) {
        if (TextGrid* data = grids[2 * k]) {
            TextGridUpdate batch(*data);
            data->SetRowCount(recordCount + 1);
            for (int i = 1; i <= recordCount; ++i) {
                if (const std::uint8_t* r = next())
                    FillDataRow(*data, i, r);
                else
                    data->ClearRow(i);
            }
        } else {
            offset += static_cast<qsizetype>(recordCount) * ArchiveRecordSize;
        }
        if (TextGrid* settings = grids[2 * k + 1]) {
            TextGridUpdate batch(*settings);
            for (int j = 1; j <= SettingsBlockCount; ++j) {
                if (const std::uint8_t* b = next())
                    FillSettingsRow(*settings, j, b);
                else
                    settings->ClearRow(j);
            }
        } else {
            offset += SettingsAreaSize;
        }
    }
}

TextGrid DecodeSettingsRows(const QByteArray& image, int channelCount, int channel) {
    TextGrid grid(SettingsGridColumns, SettingsBlockCount + 1);
    const ArchiveGeometry geo = GeometryFor(channelCount);
    for (int b = 0; b < SettingsBlockCount; ++b) {
        const qsizetype at = static_cast<qsizetype>(channel - 1) * geo.channelBlockSize +
                             geo.recordAreaSize + b * ArchiveRecordSize;
        if (at + ArchiveRecordSize <= image.size())
            FillSettingsRow(grid, b + 1,
                            reinterpret_cast<const std::uint8_t*>(image.constData() + at));
    }
    return grid;
}
