// main() of the window tests: the QApplication lives on main's stack, so that it is created
// before any widget whichever test runs alone, and destroyed before Qt's own statics.

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Window tests never need a display (also when the build lists the tests).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
