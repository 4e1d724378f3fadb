#include "Cp1251.h"

#include <QTextCodec>

#include <stdexcept>

namespace {

// Looked up once; null when the installed Qt has no such codec.
QTextCodec* Codec() {
    static QTextCodec* const codec = QTextCodec::codecForName("Windows-1251");
    if (!codec)
        throw std::runtime_error("The Windows-1251 code page is not available "
                                 "(Qt's text codecs of the Core5Compat module are missing)");
    return codec;
}

} // namespace

void RequireCp1251() {
    Codec();
}

QString FromCp1251(QByteArrayView bytes) {
    return Codec()->toUnicode(bytes.data(), static_cast<int>(bytes.size()));
}

QByteArray ToCp1251(const QString& text) {
    return Codec()->fromUnicode(text);
}
