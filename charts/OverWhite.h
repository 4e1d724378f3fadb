#pragma once

// A translucent colour as it shows over white paper. A PDF/A-1b page has no transparency: what
// the window lays translucent over a white chart goes on a page in this opaque colour instead.

#include <QColor>

inline QColor OverWhite(const QColor& color) {
    const int alpha = color.alpha();
    auto over = [alpha](int c) { return 255 - (255 - c) * alpha / 255; };
    return QColor(over(color.red()), over(color.green()), over(color.blue()));
}
