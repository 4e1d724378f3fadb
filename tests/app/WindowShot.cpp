// Looks at the window as a user would: opens it on a settings file, optionally downloads the
// archive, and saves a picture of it. Not a test; run by hand:
//   app_window_shot SETTINGS.INI OUT.png [download] [page2]

#include "MainForm.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    MainFormOptions options;
    options.settingsPath = QString::fromLocal8Bit(argv[1]);
    TMainForm form(options);
    form.show();
    for (int i = 3; i < argc; ++i) {
        const QByteArray what(argv[i]);
        if (what == "download")
            form.bt_DF_Read->click();
        else if (what == "page2")
            form.PageControl1->setCurrentIndex(1);
    }
    QApplication::processEvents();
    const bool saved = form.grab().save(QString::fromLocal8Bit(argv[2]));
    form.close();
    return saved ? 0 : 1;
}
