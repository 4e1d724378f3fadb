#include "FindingsTsv.h"

#include "TsvField.h"

#include <QStringList>

QString FindingsTsv(const std::vector<Finding>& findings) {
    QString out = QStringLiteral("channel\tkind\tfrom\tto\tsensor\tdetail\n");
    for (const Finding& f : findings)
        out +=
            QStringList{QString::number(f.channel), FindingKindId(f.kind), FindingTimeText(f.from),
                        FindingTimeText(f.to),      TsvField(f.sensor),    TsvField(f.detail)}
                .join(u'\t') +
            u'\n';
    return out;
}
