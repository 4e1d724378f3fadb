#include "Cp1251.h"

#include "Cp1251Ascii.h"

#include <QTextCodec>

namespace {

// Looked up once; null when the installed Qt has no such codec.
QTextCodec* Codec() {
    static QTextCodec* const codec = QTextCodec::codecForName("Windows-1251");
    return codec;
}

} // namespace

std::optional<QString> Cp1251Unavailable() {
    if (Codec())
        return std::nullopt;
    return QStringLiteral("The Windows-1251 code page is not available "
                          "(Qt's text codecs of the Core5Compat module are missing)");
}

QString FromCp1251(QByteArrayView bytes) {
    QTextCodec* const codec = Codec();
    return codec ? codec->toUnicode(bytes.data(), static_cast<int>(bytes.size()))
                 : AsciiToUnicode(bytes);
}

QByteArray ToCp1251(const QString& text) {
    QTextCodec* const codec = Codec();
    return codec ? codec->fromUnicode(text) : UnicodeToAscii(text);
}
