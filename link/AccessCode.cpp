#include "AccessCode.h"

#include "Cp1251.h"

namespace {

const unsigned char kScrambledAccessCode[] = {0x4B, 0x58, 0x3D, 0x36, 0x38,
                                              0x3A, 0x7F, 0x73, 0x82, 0x88};

} // namespace

QByteArray ScrambleAccessCode(const QByteArray& text) {
    QByteArray scrambled(text.size(), '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        scrambled[i] = static_cast<char>((static_cast<unsigned char>(text[i]) + 2 * i) & 0xFF);
    return scrambled;
}

bool IsAccessCode(const QString& typed) {
    static const QByteArray stored(reinterpret_cast<const char*>(kScrambledAccessCode),
                                   sizeof kScrambledAccessCode);
    const QByteArray bytes = ToCp1251(typed);
    return ScrambleAccessCode(bytes) == stored;
}
