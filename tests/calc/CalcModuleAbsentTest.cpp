// Where the office module is missing or does not load, the export connects to nothing, writes
// nothing and tells its caller so; it never crashes or throws.

#include "CalcExport.h"
#include "OOCalcAuto.h"
#include "TextGrid.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

class CalcModuleAbsentTest : public ::testing::Test {
protected:
    void TearDown() override { SetCalcModulePath(QString()); }

    static void ExpectNotConnected() {
        OOCalcAuto calc;
        EXPECT_FALSE(calc.Connect());
        EXPECT_THROW(calc.NewDocument(), ExportError);
        calc.ReleaseAll();

        const TextGrid data(14, 3);
        const TextGrid settings(16, 5);
        int max = -1;
        int steps = 0;
        ExportProgress progress;
        progress.setMax = [&](int m) { max = m; };
        progress.step = [&] { ++steps; };
        const ExportSource source{{}, 2, &data, &settings, &data, &settings};
        EXPECT_EQ(ExportToCalc(source, progress, [] { return std::make_unique<OOCalcAuto>(); }),
                  CalcExportResult::NotConnected);
        EXPECT_EQ(max, 16);
        EXPECT_EQ(steps, 0);
    }
};

TEST_F(CalcModuleAbsentTest, MissingFileBrokenFileOrNoEntryPointAllMeanNotConnected) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    SetCalcModulePath(dir.filePath(QStringLiteral("libkv9000calc.so")));
    ExpectNotConnected();

    QFile broken(dir.filePath(QStringLiteral("libbroken.so")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a shared library");
    broken.close();
    SetCalcModulePath(broken.fileName());
    ExpectNotConnected();

    // A real library, but not ours.
    SetCalcModulePath(QStringLiteral("libm.so.6"));
    ExpectNotConnected();
}

} // namespace
