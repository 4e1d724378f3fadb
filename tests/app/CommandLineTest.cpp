// The command line's reading: the toolkit's own options left for the application object, the
// rest read before it (the program itself is run in CommandLineProgramTest.cpp).

#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, TheToolkitsOwnOptionsAreLeftForTheApplicationObject) {
    const QStringList arguments =
        WithoutToolkitOptions({"kv9000", "-platform", "offscreen", "--style=fusion", "-reverse",
                               "--qwindowtitle", "Окно", "архив.kvarc", "--", "-platform"});
    EXPECT_EQ(arguments, (QStringList{"kv9000", "архив.kvarc", "--", "-platform"}));
    const CommandLine line = ParseCommandLine(WithoutToolkitOptions(
        {"kv9000", "-platform", "offscreen", "-geometry", "800x600", "a.kvarc"}));
    EXPECT_FALSE(line.exitNow);
    EXPECT_EQ(line.archivePath, "a.kvarc");
    EXPECT_EQ(ParseCommandLine(WithoutToolkitOptions({"kv9000", "--bogus"})).exitCode, 2);
}

} // namespace
