#pragma once

// Texts between Qt and UNO. Both are UTF-16, so the code units are copied unchanged: Cyrillic,
// empty texts and texts with embedded zeros arrive exactly as they left.

#include <QString>
#include <rtl/ustring.hxx>

inline rtl::OUString ToUno(const QString& text) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()),
                         static_cast<sal_Int32>(text.size()));
}

inline QString FromUno(const rtl::OUString& text) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text.getStr()), text.getLength());
}
