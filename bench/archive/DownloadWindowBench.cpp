// A whole download through the window's handler (progress bar, message handling and decoding
// included) against kv9000-sim on a pseudo-terminal: unpaced, then with the simulator pacing the
// line like 115,200 bit/s. With a team library's server (a libpq connection string, e.g. the
// one tools/test-postgres.sh prints), the paced download is timed without it and then twice with
// it set: the second download runs while the first is indexed and synced.
//
//   bench_archive_download_window [--unpaced-only | --paced-only] [--server CONNINFO]

#include "ArchiveDecoder.h"
#include "ArchiveImageBuilder.h"
#include "MainForm.h"
#include "PortMap.h"
#include "ProcessMemory.h"
#include "ServiceSession.h"
#include "SilentDialogs.h"
#include "SimProcess.h"
#include "TextGrid.h"

#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int kBlocks = 0x42000 / 32;
constexpr int kBaud = 115200;
constexpr int kRequestBytes = 4 + 5 + 2; // header, offset and count, CRC
constexpr int kAnswerBytes = 4 + 32 + 2;

// Opens a window on the simulator and times `runs` clicks of the download button.
// server: the team library's connection string for [Library] Server=; empty: none.
bool Measure(const QStringList& simArgs, int runs, const char* label, double lineTime,
             const QString& server = {}) {
    QTemporaryDir dir;
    SimProcess sim(QStringList{"--channels", "2"} + simArgs);
    if (sim.Device().isEmpty())
        return false;
    const QString settings = dir.filePath("kv9000.INI");
    QFile f(settings);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("[General]\nCOM port=1\n[Ports]\nCOM1=%1\n").arg(sim.Device()).toUtf8());
    if (!server.isEmpty())
        f.write(QStringLiteral("[Library]\nServer=%1\n").arg(server).toUtf8());
    f.close();

    auto dialogs = std::make_shared<SilentDialogs>();
    TMainForm form(MainFormOptions{settings, dialogs});
    if (form.Session().ChannelCount() != 2)
        return false;
    form.show();
    QApplication::processEvents();
    for (int i = 0; i < runs; ++i) {
        form.Grid(0).SetCell(0, 1, QString());
        const auto start = std::chrono::steady_clock::now();
        form.bt_DF_Read->click();
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool full =
            form.ProgressBar1->value() == 0x42000 && !form.Grid(0).Cell(0, 1).isEmpty();
        if (lineTime > 0)
            std::printf("%s: %.3f s, line time %.3f s, ratio %.4f (target <= 1.03)%s\n", label, s,
                        lineTime, s / lineTime, full ? "" : " INCOMPLETE");
        else
            std::printf("%s run %d: %.3f s (target <= 2 s)%s\n", label, i + 1, s,
                        full ? "" : " INCOMPLETE");
    }
    if (lineTime == 0) {
        // Channel 1 as a one-channel controller would leave it (8445 rows), channel 2 as the
        // two-channel downloads above left it (4221 rows).
        const QByteArray one = testimage::FullImage(1);
        TextGrid spare3(DataGridColumns, 4220), spare4(SettingsGridColumns, 5);
        DecodeArchive(one, 1, 8444, {&form.Grid(0), &form.Grid(1), &spare3, &spare4});
        QApplication::processEvents();
        std::printf("window with grids of %d and %d rows full: VmRSS %ld kB (target <= 80 MB)\n",
                    form.Grid(0).RowCount(), form.Grid(2).RowCount(), VmRssKb());
    }
    return dialogs->messages == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (!std::getenv("KV_BIN_DIR"))
        setenv("KV_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 1);
    SetSystemSerialDevices([] { return QStringList{}; }); // never a real device
    // The archive files saved after each download go to a folder that goes with the run.
    QTemporaryDir dataDir;
    setenv("XDG_DATA_HOME", QFile::encodeName(dataDir.path()).constData(), 1);
    bool unpaced = true, paced = true;
    QString server;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--paced-only") == 0)
            unpaced = false;
        else if (std::strcmp(argv[i], "--unpaced-only") == 0)
            paced = false;
        else if (std::strcmp(argv[i], "--server") == 0 && i + 1 < argc)
            server = QString::fromLocal8Bit(argv[++i]);
    }

    std::printf("download of %d blocks through the window's handler against kv9000-sim\n", kBlocks);
    if (unpaced && !Measure({}, 3, "unpaced", 0)) {
        std::fprintf(stderr, "the unpaced download did not run cleanly\n");
        return 1;
    }
    if (paced) {
        const double lineTime =
            static_cast<double>(kBlocks) * (kRequestBytes + kAnswerBytes) * 10.0 / kBaud;
        if (!Measure({"--baud", QString::number(kBaud)}, 1, "paced 115200 bit/s", lineTime)) {
            std::fprintf(stderr, "the paced download did not run cleanly\n");
            return 1;
        }
        if (!server.isEmpty() && !Measure({"--baud", QString::number(kBaud)}, 2,
                                          "paced 115200 bit/s, server set", lineTime, server)) {
            std::fprintf(stderr, "the paced download with a server did not run cleanly\n");
            return 1;
        }
    }
    return 0;
}
