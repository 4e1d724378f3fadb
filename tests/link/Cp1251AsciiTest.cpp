// The conversions left without the Windows-1251 code page: no machine that runs the tests lacks
// it, so nothing else would notice them break.

#include "Cp1251Ascii.h"

#include <gtest/gtest.h>

TEST(Cp1251Ascii, KeepsAsciiAndMarksEverythingElse) {
    EXPECT_EQ(AsciiToUnicode(QByteArray("COM3 \xCB\xEE\x00!", 9)),
              QString::fromUtf16(u"COM3 \uFFFD\uFFFD\0!", 9));
    EXPECT_EQ(UnicodeToAscii(QStringLiteral("Лорк KB-90")), QByteArray("???? KB-90"));
    EXPECT_EQ(UnicodeToAscii(QString()), QByteArray());
    EXPECT_EQ(AsciiToUnicode({}), QString());
}
