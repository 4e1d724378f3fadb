#include "FindingsTsv.h"

#include <QStringList>

namespace {

QString Field(QString text) {
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return text;
}

} // namespace

QString FindingsTsv(const std::vector<Finding>& findings) {
    QString out = QStringLiteral("channel\tkind\tfrom\tto\tsensor\tdetail\n");
    for (const Finding& f : findings)
        out +=
            QStringList{QString::number(f.channel), FindingKindId(f.kind), FindingTimeText(f.from),
                        FindingTimeText(f.to),      Field(f.sensor),       Field(f.detail)}
                .join(u'\t') +
            u'\n';
    return out;
}
