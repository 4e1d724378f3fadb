// Opening a saved two-channel archive file in the window until its grids are painted: reading and
// checking the file, decoding it into the four grids, filling the fields, one repaint.
//
//   bench_archive_open_window [runs]

#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "MainForm.h"
#include "PortMap.h"
#include "SilentDialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    QTemporaryDir dir;
    setenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")).constData(), 1);
    ArchiveFileContents contents;
    contents.channelCount = 2;
    contents.serial = 12345;
    contents.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    contents.comment = QStringLiteral("Котельная");
    contents.downloadedAt = QDateTime::currentDateTime();
    contents.image = testimage::FullImage(2);
    const QString path = dir.filePath("two-channels.kvarc");
    if (!WriteArchiveFile(path, contents).isEmpty())
        return 1;

    auto dialogs = std::make_shared<SilentDialogs>();
    MainFormOptions options;
    options.settingsPath = dir.filePath("kv9000.INI");
    options.dialogs = dialogs;
    options.systemDevices = [] { return QStringList(); }; // never a real device
    TMainForm form(options);
    dialogs->messages = 0; // "no controller" at start
    form.show();
    QApplication::processEvents();

    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!form.OpenArchiveFile(path))
            return 1;
        form.repaint();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        QApplication::processEvents();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("open a two-channel archive file until the grids are painted, %d runs: "
                "min %.1f ms, median %.1f ms, max %.1f ms (target <= 30 ms)\n",
                runs, ms.front(), ms[ms.size() / 2], ms.back());
    return dialogs->messages == 0 ? 0 : 1;
}
