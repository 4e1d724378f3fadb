#include "HeadlessWidgets.h"

#include <QByteArray>

// Drawn offscreen: the command works without a display (over SSH, in a script).
void PrepareHeadlessWidgets() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
}
