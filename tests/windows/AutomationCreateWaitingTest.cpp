// An automation object made without blocking the calling thread while the application starts:
// the instance answers here; an unknown class fails as a plain creation does.

#include "AutomationWindows.h"

#include <gtest/gtest.h>

namespace {

// A class every Windows (and Wine) registers: the scripting runtime's file system object.
const QString kClass = QStringLiteral("Scripting.FileSystemObject");

TEST(AutomationCreateWaiting, TheInstanceAnswersHere) {
    int steps = 0;
    AutoObject fs = AutoObject::CreateWaiting(kClass, [&steps] {
        ++steps;
        return true;
    });
    ASSERT_TRUE(fs);
    AutoVariant name = fs.Call(QStringLiteral("GetTempName"));
    ASSERT_EQ(name.Raw().vt, VT_BSTR);
    EXPECT_TRUE(QString::fromWCharArray(name.Raw().bstrVal).endsWith(QStringLiteral(".tmp")));
    EXPECT_GE(steps, 0);
}

TEST(AutomationCreateWaiting, AnUnknownClassFailsAsCreateDoes) {
    const QString unknown = QStringLiteral("Kv9000.NoSuchApplication");
    QString waiting, plain;
    try {
        AutoObject::CreateWaiting(unknown, [] { return true; });
    } catch (const ExportError& e) {
        waiting = e.Text();
    }
    try {
        AutoObject::Create(unknown);
    } catch (const ExportError& e) {
        plain = e.Text();
    }
    EXPECT_FALSE(plain.isEmpty());
    EXPECT_EQ(waiting, plain);
}

} // namespace
