#include "ExclusiveName.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Enough for any number of downloads in one second; the loop only has to end.
constexpr int kMaxSuffix = 100000;

} // namespace

QString MoveToFreeName(const QString& from, const QString& base, const QString& extension,
                       QString* error) {
    for (int n = 1; n <= kMaxSuffix; ++n) {
        const QString name =
            n == 1 ? base + extension : QStringLiteral("%1_%2%3").arg(base).arg(n).arg(extension);
        switch (MoveWithoutReplacing(from, name, error)) {
        case ExclusiveMove::Moved:
            return name;
        case ExclusiveMove::Taken:
            continue;
        case ExclusiveMove::Failed:
            return {};
        }
    }
    if (error)
        *error = QStringLiteral("все имена %1_N%2 заняты").arg(base, extension);
    return {};
}
