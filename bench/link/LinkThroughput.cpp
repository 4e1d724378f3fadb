// A whole archive (8,448 flash reads of 32 bytes) through the frame link against kv9000-sim on a
// pseudo-terminal: once as fast as the link and the simulator go, once with the simulator pacing
// its answers like a 115,200 bit/s line. --log-ratio instead runs the paced download twice, with
// the exchange log off and on (into a temporary folder), and prints the ratio of the two. With
// PAIRS, it runs that many pairs, the order of off and on alternating so that a machine busy with
// other work weighs on both alike, and prints each pair's ratio and their median.
//
//   bench_link_throughput [--unpaced-only | --paced-only | --log-ratio [PAIRS]]

#include "ExchangeLog.h"
#include "FlashRead.h"
#include "FrameLink.h"
#include "FrameTrace.h"
#include "MappedPorts.h"
#include "PacedLineFloor.h"
#include "PortMap.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kBlocks = 0x42000 / 32;
constexpr int kBaud = 115200;
constexpr int kRequestBytes = 4 + 5 + 2; // header, offset and count, CRC
constexpr int kAnswerBytes = 4 + 32 + 2;

struct Run {
    double seconds = 0;
    int failures = 0;
};

bool Read(FrameLink& link, std::uint32_t offset) {
    return RequestFlashBlock(link, offset, FlashBlockLength) == LinkOutcome::Ok &&
           ReceiveFlashBlock(link, FlashBlockLength).outcome == LinkOutcome::Ok;
}

// trace: the exchange log the link reports to, or none.
bool Measure(const QStringList& simArgs, Run& run, FrameTrace* trace = nullptr) {
    SimProcess sim(simArgs);
    if (sim.Device().isEmpty())
        return false;
    FrameLink link(MappedPorts({{1, sim.Device()}}));
    link.SetTrace(trace);
    if (!link.OpenCOM("COM1", kBaud) || !link.SetModeCOM(3, 0))
        return false;
    const auto start = std::chrono::steady_clock::now();
    for (int block = 0; block < kBlocks; ++block)
        if (!Read(link, static_cast<std::uint32_t>(block) * 32))
            ++run.failures;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    link.CloseCOM();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!std::getenv("KV_BIN_DIR"))
        setenv("KV_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 1);
    if (argc > 1 && std::strcmp(argv[1], "--log-ratio") == 0) {
        const QStringList pacing = {"--baud", QString::number(kBaud)};
        Run off, on;
        QTemporaryDir folder;
        bool started = Measure(pacing, off);
        {
            ExchangeLog log(folder.path());
            started = started && Measure(pacing, on, &log);
        }
        if (!started) {
            std::fprintf(stderr, "cannot start or open the simulator\n");
            return 1;
        }
        // The log's own cost, apart from the line's noise: the run's lines written directly.
        const auto lines = [&] {
            ExchangeLog log(folder.filePath("direct"));
            std::uint8_t request[5] = {0, 0, 0, 0, 32};
            std::uint8_t answer[32] = {};
            const auto begin = std::chrono::steady_clock::now();
            for (int block = 0; block < kBlocks; ++block) {
                log.FrameSent(TracedFrame{1, 30, 5, request});
                log.FrameReceived(TracedFrame{1, 30, 32, answer});
            }
            log.Flush();
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        }();
        std::printf("log's own cost: %.1f ms for %d lines, %.2f us a line, %.3f %% of the paced "
                    "run\n",
                    lines * 1e3, 2 * kBlocks, lines * 1e6 / (2 * kBlocks),
                    100.0 * lines / off.seconds);
        qint64 logged = 0;
        for (const QFileInfo& f : QDir(folder.path()).entryInfoList(QDir::Files)) // the run's
            logged += f.size();
        std::printf("paced %d bit/s: log off %.3f s, log on %.3f s, ratio %.4f (target <= 1.01), "
                    "%lld bytes logged, %d+%d failed\n",
                    kBaud, off.seconds, on.seconds, on.seconds / off.seconds,
                    static_cast<long long>(logged), off.failures, on.failures);
        const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
        std::vector<double> ratios = {on.seconds / off.seconds};
        for (int pair = 1; pair < pairs; ++pair) {
            Run more[2];
            QTemporaryDir moreFolder;
            const bool logFirst = pair % 2 == 1;
            for (int i = 0; i < 2; ++i) {
                const bool loggedRun = (i == 0) == logFirst;
                ExchangeLog log(moreFolder.path());
                Measure(pacing, more[loggedRun ? 1 : 0], loggedRun ? &log : nullptr);
            }
            ratios.push_back(more[1].seconds / more[0].seconds);
            std::printf("pair %d (%s first): log off %.3f s, log on %.3f s, ratio %.4f\n", pair + 1,
                        logFirst ? "on" : "off", more[0].seconds, more[1].seconds, ratios.back());
        }
        if (pairs > 1) {
            std::sort(ratios.begin(), ratios.end());
            std::printf("median ratio of %d pairs: %.4f (target <= 1.01)\n", pairs,
                        ratios[ratios.size() / 2]);
        }
        return 0;
    }
    const bool unpaced = argc < 2 || std::strcmp(argv[1], "--paced-only") != 0;
    const bool paced = argc < 2 || std::strcmp(argv[1], "--unpaced-only") != 0;

    std::printf("%d flash reads of 32 bytes through the link against kv9000-sim\n", kBlocks);
    if (unpaced) {
        Run run;
        if (!Measure({}, run)) {
            std::fprintf(stderr, "cannot start or open the simulator\n");
            return 1;
        }
        std::printf("unpaced: %.3f s (target <= 1.5 s), %.1f us per exchange, %d failed\n",
                    run.seconds, run.seconds * 1e6 / kBlocks, run.failures);
    }
    if (paced) {
        Run run;
        if (!Measure({"--baud", QString::number(kBaud)}, run)) {
            std::fprintf(stderr, "cannot start or open the simulator\n");
            return 1;
        }
        const double lineTime =
            static_cast<double>(kBlocks) * (kRequestBytes + kAnswerBytes) * 10.0 / kBaud;
        std::printf("paced %d bit/s: %.3f s, line time %.3f s, ratio %.4f (target <= 1.03), "
                    "%d failed\n",
                    kBaud, run.seconds, lineTime, run.seconds / lineTime, run.failures);
        PrintPacedLineFloor(kBaud, kRequestBytes, kAnswerBytes);
    }
    return 0;
}
