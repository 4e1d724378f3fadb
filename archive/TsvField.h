#pragma once

// One field of the command line's tab-separated answers: a tab or line break inside a text would
// split its line or its fields, so each becomes a space.

#include <QString>

inline QString TsvField(QString text) {
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return text;
}
