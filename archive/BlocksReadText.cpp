#include "BlocksReadText.h"

#include "ArchiveGeometry.h"

namespace {

QString Grouped(int n) {
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return digits;
}

// блок / блока / блоков after a number.
QString BlockNoun(int n) {
    const int lastTwo = n % 100, last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return QStringLiteral("блоков");
    if (last == 1)
        return QStringLiteral("блок");
    if (last >= 2 && last <= 4)
        return QStringLiteral("блока");
    return QStringLiteral("блоков");
}

} // namespace

QString BlocksReadText(std::optional<int> blocksRead) {
    if (!blocksRead)
        return {};
    return QStringLiteral("прочитано %1 %2 из %3")
        .arg(Grouped(*blocksRead), BlockNoun(*blocksRead),
             Grouped(ArchiveSize / ArchiveRecordSize));
}
