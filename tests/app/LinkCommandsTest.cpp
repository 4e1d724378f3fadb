// The pieces of the identity and discovery commands that need no controller: the access code,
// the comment payload, recognising the controller's identification.

#include "AccessCode.h"
#include "Discovery.h"
#include "IdentityCommands.h"
#include "WindowTestSupport.h"

#include <QByteArray>

#include <gtest/gtest.h>

namespace {

QByteArray Payload(const QByteArray& comment) {
    std::uint8_t buffer[40];
    std::memset(buffer, 0xEE, sizeof buffer);
    BuildCommentPayload(comment, buffer);
    EXPECT_EQ(buffer[32], 0xEE) << "nothing is written past the 32 bytes";
    return QByteArray(reinterpret_cast<const char*>(buffer), 32);
}

TEST(AccessCodeTest, OnlyTheExactCodeUnlocks) {
    EnsureWidgetApp();
    EXPECT_TRUE(IsAccessCode(QStringLiteral("KV9000serv")));
    for (const char* wrong : {"", "kv9000serv", "KV9000ser", "KV9000servv", "KV9000serw",
                              " KV9000serv", "KV9000serv\n"})
        EXPECT_FALSE(IsAccessCode(QString::fromLatin1(wrong))) << wrong;
}

TEST(AccessCodeTest, ScrambleAddsTwiceTheIndexModulo256) {
    EXPECT_EQ(ScrambleAccessCode(QByteArray("\x00\x00\x00", 3)), QByteArray("\x00\x02\x04", 3));
    // 0xFF + 2 wraps to 0x01.
    EXPECT_EQ(ScrambleAccessCode(QByteArray("A\xFF", 2)), QByteArray("A\x01", 2));
    // A code of another length never matches, even when its scrambled start does.
    EXPECT_FALSE(IsAccessCode(QStringLiteral("KV9000serv").left(9)));
}

TEST(CommentPayloadTest, TextThenZeroThenSpaces) {
    EXPECT_EQ(Payload(""), QByteArray(1, '\0') + QByteArray(31, ' '));
    EXPECT_EQ(Payload("abcde"), QByteArray("abcde") + QByteArray(1, '\0') + QByteArray(26, ' '));
    const QByteArray full(31, 'x');
    EXPECT_EQ(Payload(full), full + QByteArray(1, '\0'));
    // A longer text is cut to 31 bytes so that its zero byte still fits.
    EXPECT_EQ(Payload(QByteArray(40, 'y')), QByteArray(31, 'y') + QByteArray(1, '\0'));
}

TEST(IdentificationTest, PrefixAndChannelMarkAreComparedAsWindows1251Bytes) {
    EnsureWidgetApp();
    const QByteArray one = ToCp1251(QStringLiteral("Лорк КB-9000Л вер. 1.07"));
    const QByteArray two = ToCp1251(QStringLiteral("Лорк КB-9000Л-2К вер. 1.07"));
    EXPECT_TRUE(IsControllerIdentification(one));
    EXPECT_TRUE(IsControllerIdentification(ToCp1251(QStringLiteral("ООО Лорк КB-9000"))));
    EXPECT_EQ(ChannelCountFor(one), 1);
    EXPECT_EQ(ChannelCountFor(two), 2);

    // The B after К must be the Latin letter; the Cyrillic В is another controller.
    EXPECT_FALSE(IsControllerIdentification(ToCp1251(QStringLiteral("Лорк КВ-9000Л"))));
    // Case matters.
    EXPECT_FALSE(IsControllerIdentification(ToCp1251(QStringLiteral("лорк КB-9000Л"))));
    // The same text in UTF-8 is not the controller's.
    EXPECT_FALSE(IsControllerIdentification(QStringLiteral("Лорк КB-9000Л").toUtf8()));
    // "-2K" with a Latin K is no second channel.
    EXPECT_EQ(ChannelCountFor(ToCp1251(QStringLiteral("Лорк КB-9000Л-2K"))), 1);
}

} // namespace
