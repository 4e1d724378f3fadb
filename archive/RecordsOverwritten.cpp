#include "RecordsOverwritten.h"

#include <algorithm>

qint64 SecondsOverwritten(qint64 previousNewest, qint64 oldest, qint64 interval) {
    return std::max<qint64>(0, oldest - previousNewest - std::max<qint64>(0, interval));
}
