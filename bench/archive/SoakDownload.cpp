// Soak run: many unpaced downloads in a row through the window's handler, each against a new
// kv9000-sim serving a different archive with a seeded random plan of faults (drops, short
// answers, late answers, garbage, and now and then enough of them, or a pulled line, to abort).
// A run that completes must show exactly the served archive's decode; a run that aborts must
// leave the grids as they were; resident memory must not grow across the runs.
//
//   soak_download [--runs N] [--seed S]
//
// Prints the plan's counts, wall time and resident memory; exits 1 on a finding.

#include "ArchiveDecoder.h"
#include "ArchiveDownload.h"
#include "ArchiveGeometry.h"
#include "FrameLink.h"
#include "MainForm.h"
#include "MappedPorts.h"
#include "PortMap.h"
#include "ProcessMemory.h"
#include "ServiceSession.h"
#include "SilentDialogs.h"
#include "SimArchive.h"
#include "SimProcess.h"
#include "TextGrid.h"

#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int kChannels = 2;
constexpr int kFlashReads = ArchiveSize / FlashBlockLength; // reads of a run without failures
constexpr int kAbortingFailures = DownloadFailureLimit + 1;
// Resident memory may settle during the first runs; after that it may move by this much.
constexpr long kRssToleranceKb = 8 * 1024;
constexpr int kRssBaselineRun = 10;
// The allocator keeps and hands back memory in steps of some megabytes as the window's and the
// library's threads work, so one reading can sit on a step: the lowest reading of this many runs
// from the baseline run on is compared with the lowest of as many last runs. A leak raises both
// the low and the high readings and still shows.
constexpr int kRssWindow = 20;

// What the simulator of one run does wrong. Fault numbers are flash reads from 1, retries
// counted; all lie within the first kFlashReads, which every run reaches unless it aborts first.
struct RunPlan {
    std::set<int> drop, shortReads, late;
    bool garbage = false;
    int dieAfter = 0;

    int Failures() const { return static_cast<int>(drop.size() + shortReads.size() + late.size()); }
    bool ShouldAbort() const { return dieAfter > 0 || Failures() >= kAbortingFailures; }

    QStringList Args() const {
        QStringList args;
        auto list = [&](const char* option, const std::set<int>& reads) {
            if (reads.empty())
                return;
            QStringList numbers;
            for (int n : reads)
                numbers << QString::number(n);
            args << QString::fromLatin1(option) << numbers.join(',');
        };
        list("--drop", drop);
        list("--short", shortReads);
        list("--late", late);
        if (garbage)
            args << "--garbage";
        if (dieAfter > 0)
            args << "--die-after" << QString::number(dieAfter);
        return args;
    }
};

// Drops and late answers cost a time-out each (200 to 300 ms), short answers nothing, so the
// aborting plans are made mostly of short answers.
RunPlan MakePlan(std::mt19937& rng) {
    RunPlan plan;
    std::uniform_int_distribution<int> read(1, kFlashReads);
    std::uniform_int_distribution<int> percent(0, 99);
    auto add = [&](std::set<int>& into, int count) {
        while (count-- > 0) {
            int n;
            do
                n = read(rng);
            while (plan.drop.contains(n) || plan.shortReads.contains(n) || plan.late.contains(n));
            into.insert(n);
        }
    };
    plan.garbage = percent(rng) < 30;
    const int kind = percent(rng);
    if (kind < 15) {
        // A clean line.
    } else if (kind < 75) {
        add(plan.drop, std::uniform_int_distribution<int>(0, 1)(rng));
        add(plan.late, std::uniform_int_distribution<int>(0, 1)(rng));
        add(plan.shortReads, std::uniform_int_distribution<int>(0, 6)(rng));
    } else if (kind < 95) {
        const int slow = std::uniform_int_distribution<int>(0, 2)(rng);
        add(plan.drop, slow / 2);
        add(plan.late, slow - slow / 2);
        add(plan.shortReads, kAbortingFailures - slow);
    } else {
        plan.dieAfter = read(rng);
    }
    return plan;
}

using GridCells = std::vector<QStringList>;

GridCells Cells(const TextGrid& g) {
    GridCells rows;
    rows.reserve(static_cast<std::size_t>(g.RowCount()));
    for (int r = 0; r < g.RowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < g.ColCount(); ++c)
            row << g.Cell(c, r);
        rows.push_back(row);
    }
    return rows;
}

std::vector<GridCells> AllCells(const TMainForm& form) {
    std::vector<GridCells> all;
    for (int i = 0; i < 4; ++i)
        all.push_back(Cells(form.Grid(i)));
    return all;
}

// The served archive's decode as a fresh window would show it below the headings.
bool ShowsImage(const TMainForm& form, const QByteArray& image) {
    const int records = GeometryFor(kChannels).recordCount;
    TextGrid expected[4] = {{DataGridColumns, 1},
                            {SettingsGridColumns, SettingsBlockCount + 1},
                            {DataGridColumns, 1},
                            {SettingsGridColumns, SettingsBlockCount + 1}};
    DecodeArchive(image, kChannels, records,
                  {&expected[0], &expected[1], &expected[2], &expected[3]});
    for (int i = 0; i < 4; ++i) {
        const GridCells shown = Cells(form.Grid(i));
        const GridCells want = Cells(expected[i]);
        if (shown.size() != want.size() ||
            !std::equal(shown.begin() + 1, shown.end(), want.begin() + 1))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // progress shows in a CI log as it happens
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (!std::getenv("KV_BIN_DIR"))
        setenv("KV_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 1);

    int runs = 200;
    unsigned seed = 14;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    }

    // The kept downloads, their index and the journals go to a folder of the run's own, never to
    // the user's.
    QTemporaryDir dir;
    for (const char* variable : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
        setenv(variable, dir.filePath(QString::fromLatin1(variable)).toLocal8Bit().constData(), 1);

    // The window finds a first simulator as it would at start-up; every run then opens its own.
    const QString settings = dir.filePath("kv9000.INI");
    const QString imagePath = dir.filePath("archive.bin");
    std::unique_ptr<SimProcess> first =
        std::make_unique<SimProcess>(QStringList{"--channels", QString::number(kChannels)});
    QFile f(settings);
    if (first->Device().isEmpty() || !f.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "no simulator or no settings file\n");
        return 1;
    }
    f.write(
        QStringLiteral("[General]\nCOM port=1\n[Ports]\nCOM1=%1\n").arg(first->Device()).toUtf8());
    f.close();
    auto dialogs = std::make_shared<SilentDialogs>();
    dialogs->echo = false;
    MainFormOptions options;
    options.settingsPath = settings;
    options.dialogs = dialogs;
    options.systemDevices = [] { return QStringList(); }; // never a real device
    TMainForm form(options);
    if (form.Session().ChannelCount() != kChannels) {
        std::fprintf(stderr, "the window did not find the simulator\n");
        return 1;
    }
    first.reset();
    form.show();
    QApplication::processEvents();

    std::printf("soak: %d unpaced downloads through the window's handler, plan seed %u\n", runs,
                seed);
    std::mt19937 rng(seed);
    int completed = 0, aborted = 0, findings = 0;
    long rssFirst = 0, rssLast = 0;
    std::vector<long> rss; // after each run
    const auto start = std::chrono::steady_clock::now();
    for (int run = 1; run <= runs; ++run) {
        const RunPlan plan = MakePlan(rng);
        const QByteArray image =
            sim::GenerateArchive(kChannels, seed * 1000u + static_cast<unsigned>(run));
        QFile out(imagePath);
        if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(imagePath));
            return 1;
        }
        out.close();
        SimProcess sim(QStringList{"--channels", QString::number(kChannels), "--image", imagePath} +
                       plan.Args());
        form.Link().SetPortMap(MappedPorts({{1, sim.Device()}}));
        if (sim.Device().isEmpty() || !form.Link().OpenCOM("COM1", form.PortSpeed) ||
            !form.Link().SetModeCOM(3, 0)) {
            std::fprintf(stderr, "run %d: the simulator's line cannot be opened\n", run);
            return 1;
        }

        const std::vector<GridCells> before = AllCells(form);
        dialogs->last.clear();
        form.bt_DF_Read->click();
        const bool done = dialogs->last.isEmpty() && form.ProgressBar1->value() == ArchiveSize;
        const char* problem = nullptr;
        if (done != !plan.ShouldAbort())
            problem =
                done ? "completed although its plan aborts" : "aborted although its plan completes";
        else if (done && !ShowsImage(form, image))
            problem = "completed, but the grids differ from the served archive";
        else if (!done && AllCells(form) != before)
            problem = "aborted, but the grids changed";
        if (problem) {
            ++findings;
            std::printf("FINDING run %d: %s (message \"%s\"; simulator %s)\n", run, problem,
                        qPrintable(dialogs->last), qPrintable(plan.Args().join(' ')));
        }
        (done ? completed : aborted)++;
        form.Link().CloseCOM();

        rssLast = VmRssKb();
        rss.push_back(rssLast);
        if (run == 1)
            rssFirst = rssLast;
        if (run % 20 == 0)
            std::printf("after run %d: completed %d, aborted %d, VmRSS %ld kB\n", run, completed,
                        aborted, rssLast);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("completed %d, aborted %d, findings %d\n", completed, aborted, findings);
    std::printf("wall time %.1f s (%.2f s a run)\n", seconds, seconds / runs);
    const std::size_t from = static_cast<std::size_t>(std::min(kRssBaselineRun, runs) - 1);
    const std::size_t width = static_cast<std::size_t>(kRssWindow);
    const auto lowest = [&](std::size_t begin) {
        begin = std::min(begin, rss.size() - 1);
        return *std::min_element(
            rss.begin() + static_cast<std::ptrdiff_t>(begin),
            rss.begin() + static_cast<std::ptrdiff_t>(std::min(begin + width, rss.size())));
    };
    const long rssBaseline = lowest(from);
    const long rssEnd = lowest(rss.size() > width ? rss.size() - width : 0);
    std::printf("VmRSS after run 1: %ld kB, after run %d: %ld kB; lowest of runs %zu-%zu: %ld kB, "
                "lowest of the last %zu runs: %ld kB (growth allowed: %ld kB)\n",
                rssFirst, runs, rssLast, from + 1, std::min(from + width, rss.size()), rssBaseline,
                std::min(width, rss.size()), rssEnd, kRssToleranceKb);
    if (rssEnd - rssBaseline > kRssToleranceKb) {
        ++findings;
        std::printf("FINDING: resident memory grew by %ld kB\n", rssEnd - rssBaseline);
    }
    return findings == 0 ? 0 : 1;
}
