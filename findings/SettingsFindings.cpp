// settings-changed: each settings block of a channel against the same block of the previous
// visit's archive, compared as the settings grid shows them.

#include "Findings.h"

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "TextGrid.h"

namespace {

constexpr int kFirstValueColumn = 3; // columns 1 and 2 are the block's date and time

qint64 WallSeconds(const QDateTime& when) {
    return QDateTime(when.date(), when.time(), Qt::UTC).toSecsSinceEpoch();
}

// The block's own date and time (when it was last written), or 0 when it has none.
qint64 BlockTime(const TextGrid& grid, int row) {
    const QDateTime t = QDateTime::fromString(grid.Cell(1, row) + u' ' + grid.Cell(2, row),
                                              QStringLiteral("dd.MM.yy HH:mm:ss"));
    return t.isValid() ? WallSeconds(t.addYears(t.date().year() < 2000 ? 100 : 0)) : 0;
}

} // namespace

std::vector<Finding> SettingsFindings(const FindingsInput& input, int channel) {
    std::vector<Finding> out;
    if (input.previousImage.isEmpty() || channel < 1 || channel > input.channelCount)
        return out;
    const TextGrid now = DecodeSettingsRows(input.image, input.channelCount, channel);
    const TextGrid before = DecodeSettingsRows(input.previousImage, input.channelCount, channel);
    auto heading = [&](int col) {
        return col < input.settingsHeadings.size() ? input.settingsHeadings[col]
                                                   : QStringLiteral("поле %1").arg(col);
    };
    for (int row = 1; row <= SettingsBlockCount; ++row) {
        const bool wasValid = !before.Cell(0, row).isEmpty(), isValid = !now.Cell(0, row).isEmpty();
        QStringList names, changes;
        if (wasValid && isValid) {
            for (int col = kFirstValueColumn; col < SettingsGridColumns; ++col)
                if (before.Cell(col, row) != now.Cell(col, row)) {
                    names << heading(col);
                    changes << QStringLiteral("%1 %2 → %3")
                                   .arg(heading(col), before.Cell(col, row), now.Cell(col, row));
                }
            if (changes.isEmpty())
                continue;
        } else if (wasValid == isValid) {
            continue; // empty both times
        }
        // The span runs from the previous visit to this one; the block's own time stands in for
        // a download time that is not known.
        const qint64 stamp = BlockTime(now, row) ? BlockTime(now, row) : BlockTime(before, row);
        const qint64 from =
            input.previousDownloadedAt.isValid() ? WallSeconds(input.previousDownloadedAt) : stamp;
        const qint64 to = input.downloadedAt.isValid() ? WallSeconds(input.downloadedAt) : stamp;
        QString detail;
        if (!wasValid)
            detail = QStringLiteral("Блок настроек %1 появился с прошлого посещения.").arg(row);
        else if (!isValid)
            detail = QStringLiteral("Блок настроек %1 стёрт с прошлого посещения.").arg(row);
        else
            detail = QStringLiteral("Блок настроек %1 изменён с прошлого посещения: %2.")
                         .arg(row)
                         .arg(changes.join(QStringLiteral(", ")));
        out.push_back({channel, FindingKind::SettingsChanged, std::min(from, to),
                       std::max(from, to), names.join(QStringLiteral(", ")), detail});
    }
    return out;
}
