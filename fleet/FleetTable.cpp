#include "FleetTable.h"

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace {

QString Cell(QString text) {
    return text.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' ');
}

const QStringList kColumns{QStringLiteral("port"),    QStringLiteral("serial"),
                           QStringLiteral("outcome"), QStringLiteral("blocks"),
                           QStringLiteral("seconds"), QStringLiteral("file")};
const QStringList kEntryColumns{QStringLiteral("address"), QStringLiteral("name")};

} // namespace

std::vector<FleetResult> MostUrgentFirst(std::vector<FleetResult> results) {
    auto rank = [](const FleetResult& r) {
        if (r.outcome == FleetOutcome::Failed)
            return std::pair{0, qint64{0}};
        if (r.overwriteFrom)
            return std::pair{1, *r.overwriteFrom};
        return std::pair{2, qint64{0}};
    };
    std::stable_sort(results.begin(), results.end(),
                     [&](const FleetResult& a, const FleetResult& b) { return rank(a) < rank(b); });
    return results;
}

QString FleetOutcomeText(const FleetResult& result) {
    QString text;
    switch (result.outcome) {
    case FleetOutcome::New:
        text = QStringLiteral("new");
        break;
    case FleetOutcome::Whole:
        text = QStringLiteral("whole");
        break;
    case FleetOutcome::Failed:
        text = QStringLiteral("failed: ") + result.cause;
        break;
    }
    if (result.serialBefore)
        text += QStringLiteral("; прежде на порту был регулятор %1").arg(*result.serialBefore);
    return text;
}

QString FleetOutcomeWords(const QString& outcomeText) {
    const struct {
        QLatin1String code;
        QString words;
    } codes[] = {
        {QLatin1String("new"), QStringLiteral("новые записи")},
        {QLatin1String("whole"), QStringLiteral("весь архив")},
        {QLatin1String("failed: "), QStringLiteral("не собран: ")},
    };
    for (const auto& c : codes) {
        // "new" alone or followed by the note "; прежде на порту…", never "newer…".
        if (!outcomeText.startsWith(c.code))
            continue;
        const QString rest = outcomeText.mid(c.code.size());
        if (c.code.endsWith(u' ') || rest.isEmpty() || rest.startsWith(u';'))
            return c.words + rest;
    }
    return outcomeText;
}

QString FormatFleetTable(const std::vector<FleetResult>& results, bool withEntry) {
    QStringList header = kColumns;
    if (withEntry)
        header += kEntryColumns;
    QString text = header.join(u'\t') + u'\n';
    for (const FleetResult& r : results) {
        const bool kept = r.outcome != FleetOutcome::Failed;
        QStringList row{Cell(r.entry.port),
                        r.serial && (kept || withEntry) ? QString::number(*r.serial) : QString(),
                        Cell(FleetOutcomeText(r)),
                        QString::number(kept ? r.blocks : 0),
                        QString::number(r.seconds, 'f', 1),
                        Cell(QDir::toNativeSeparators(r.file))};
        if (withEntry)
            row << QString::number(r.entry.address) << Cell(r.entry.name);
        text += row.join(u'\t') + u'\n';
    }
    return text;
}

std::vector<FleetResult> ParseKeptRun(const QByteArray& text) {
    std::vector<FleetResult> run;
    const QStringList lines = QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty() || lines.constFirst().split(u'\t') != kColumns + kEntryColumns)
        return run;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(u'\t');
        if (f.size() != kColumns.size() + kEntryColumns.size())
            continue;
        FleetResult r;
        r.entry.line = static_cast<int>(i + 1);
        r.entry.port = f[0];
        bool ok = false;
        const uint serial = f[1].toUInt(&ok);
        if (ok && serial <= 0xFFFF)
            r.serial = static_cast<std::uint16_t>(serial);
        r.outcome = f[2] == QLatin1String("new") || f[2].startsWith(QLatin1String("new;"))
                        ? FleetOutcome::New
                    : f[2].startsWith(QLatin1String("whole")) ? FleetOutcome::Whole
                                                              : FleetOutcome::Failed;
        r.cause = f[2];
        r.blocks = f[3].toInt();
        r.seconds = f[4].toDouble();
        r.file = f[5];
        r.entry.address = f[6].toInt();
        r.entry.name = f[7];
        run.push_back(std::move(r));
    }
    return run;
}

std::map<std::pair<QString, int>, std::uint16_t> LastSerials(const std::vector<FleetResult>& run) {
    std::map<std::pair<QString, int>, std::uint16_t> serials;
    for (const FleetResult& r : run)
        if (r.serial)
            serials[{r.entry.port, r.entry.address}] = *r.serial;
    return serials;
}
