// A whole download through the window's handler (progress bar, message handling and decoding
// included) against kv9000-sim on a pseudo-terminal: unpaced, then with the simulator pacing the
// line like 115,200 bit/s. The paced download is then timed through a link alone (no window) and
// as eight downloads at once in this process, each on a link and a thread of its own from a paced
// simulator of its own, and the three are printed side by side. With a team library's server (a
// libpq connection string, e.g. the one tools/test-postgres.sh prints), the paced download is timed
// without it and then twice with it set: the second download runs while the first is indexed and
// synced.
//
//   bench_archive_download_window [--unpaced-only | --paced-only] [--server CONNINFO]

#include "ArchiveDecoder.h"
#include "ArchiveDownload.h"
#include "ArchiveImageBuilder.h"
#include "FrameLink.h"
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
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kBlocks = 0x42000 / 32;
constexpr int kBaud = 115200;
constexpr int kRequestBytes = 4 + 5 + 2; // header, offset and count, CRC
constexpr int kAnswerBytes = 4 + 32 + 2;

// Opens a window on the simulator and times `runs` clicks of the download button.
// server: the team library's connection string for [Library] Server=; empty: none.
// seconds, when given, gets the last run's time.
bool Measure(const QStringList& simArgs, int runs, const char* label, double lineTime,
             const QString& server = {}, double* seconds = nullptr) {
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
    MainFormOptions options;
    options.settingsPath = settings;
    options.dialogs = dialogs;
    options.systemDevices = [] { return QStringList(); }; // never a real device
    TMainForm form(options);
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
        if (seconds)
            *seconds = s;
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

// Times `count` downloads at once, each through a link of its own on a thread of its own from a
// paced simulator of its own (no window): the seconds from the common start until the last one
// ended, or a negative figure when one did not complete.
double MeasureLinks(int count) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            QStringList{"--channels", "2", "--baud", QString::number(kBaud)}));
        if (sims.back()->Device().isEmpty())
            return -1;
    }
    // Each link is made, opened and used on its own thread, as a reader of many controllers would.
    std::vector<DownloadOutcome> outcomes(static_cast<std::size_t>(count),
                                          DownloadOutcome::TxError);
    std::vector<std::unique_ptr<QThread>> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const QString device = sims[static_cast<std::size_t>(i)]->Device();
        DownloadOutcome* outcome = &outcomes[static_cast<std::size_t>(i)];
        threads.emplace_back(QThread::create([device, outcome] {
            FrameLink link;
            if (link.Open(PortOfDevice(device), kBaud) && link.SetModeCOM(3, 0))
                *outcome = DownloadArchive(link, {}).outcome;
        }));
        threads.back()->start();
    }
    for (const auto& thread : threads)
        thread->wait();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (DownloadOutcome outcome : outcomes)
        if (outcome != DownloadOutcome::Completed)
            return -1;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (!std::getenv("KV_BIN_DIR"))
        setenv("KV_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 1);
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
        double window = 0;
        if (!Measure({"--baud", QString::number(kBaud)}, 1, "paced 115200 bit/s", lineTime, {},
                     &window)) {
            std::fprintf(stderr, "the paced download did not run cleanly\n");
            return 1;
        }
        // The same download through a link alone, moved off the window's thread, and eight at
        // once: the links share nothing, so eight take no longer than one.
        const double one = MeasureLinks(1);
        const double eight = MeasureLinks(8);
        if (one <= 0 || eight <= 0) {
            std::fprintf(stderr, "a paced download through a link alone did not complete\n");
            return 1;
        }
        std::printf("paced 115200 bit/s, line time %.3f s: window %.3f s (ratio %.4f, target <= "
                    "1.03), link alone %.3f s (ratio %.4f), eight links at once %.3f s (ratio "
                    "%.4f to the line, %.4f to one link alone, target <= 1.05)\n",
                    lineTime, window, window / lineTime, one, one / lineTime, eight,
                    eight / lineTime, eight / one);
        if (!server.isEmpty() && !Measure({"--baud", QString::number(kBaud)}, 2,
                                          "paced 115200 bit/s, server set", lineTime, server)) {
            std::fprintf(stderr, "the paced download with a server did not run cleanly\n");
            return 1;
        }
    }
    return 0;
}
