// Start-up: the application title, the main window (which finds the controller as it is
// created), then the message loop until the window is closed. The exit code is always 0.

#include "MainForm.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(kApplicationTitle);
    try {
        TMainForm MainForm;
        MainForm.show();
        app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, kApplicationTitle, QString::fromUtf8(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, kApplicationTitle, QStringLiteral("Unknown error"));
    }
    return 0;
}
