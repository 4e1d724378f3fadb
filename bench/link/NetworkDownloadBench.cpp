// A whole archive download through a serial device server: kv9000-sim paced like a 115,200 bit/s
// line, served by a real ser2net raw and as RFC 2217, compared with the line's own time; then
// through a relay that delays each direction 25 ms (a cellular modem's round trip of 50 ms),
// where only the first 1,000 blocks are timed (the whole would take about 7.5 minutes), compared
// with their line time plus a round trip for each.
//
//   bench_network_download [--no-relay]

#include "ArchiveDownload.h"
#include "DelayRelay.h"
#include "FrameLink.h"
#include "MappedPorts.h"
#include "PacedLineFloor.h"
#include "PortMap.h"
#include "Ser2Net.h"
#include "SimProcess.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kBlocks = 0x42000 / 32;
constexpr int kRelayBlocks = 1000;
constexpr int kBaud = 115200;
constexpr int kRelayDelayMs = 25;
constexpr double kExchangeBits = (4 + 5 + 2 + 4 + 32 + 2) * 10.0; // request and answer

double LineSeconds(int blocks) {
    return blocks * kExchangeBits / kBaud;
}

// Seconds for `blocks` blocks through the port; negative when the download failed.
double TimeDownload(const QString& url, int blocks) {
    FrameLink link(MappedPorts({{5, url}}));
    if (!link.OpenCOM("COM5", kBaud))
        return -1;
    DownloadHooks hooks;
    bool enough = false;
    hooks.onProgress = [&](int offset) { enough = offset >= blocks * 32; };
    hooks.cancelled = [&] { return enough; };
    const auto start = std::chrono::steady_clock::now();
    const DownloadResult result = DownloadArchive(link, hooks);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool done = blocks == kBlocks ? result.outcome == DownloadOutcome::Completed
                                        : result.outcome == DownloadOutcome::Cancelled;
    if (!done) {
        std::fprintf(stderr, "download through %s failed (tx %d, rx %d)\n",
                     url.toLocal8Bit().constData(), result.txFailures, result.rxFailures);
        return -1;
    }
    // A repeated request costs its time-out: said, and counted in the time.
    if (result.txFailures + result.rxFailures > 0)
        std::printf("(through %s: %d failed transmissions, %d failed receptions)\n",
                    url.toLocal8Bit().constData(), result.txFailures, result.rxFailures);
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!std::getenv("KV_BIN_DIR"))
        setenv("KV_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 1);
    const bool relay = !(argc > 1 && std::strcmp(argv[1], "--no-relay") == 0);

    std::printf("a whole download (%d blocks) through ser2net from kv9000-sim paced at %d bit/s\n",
                kBlocks, kBaud);
    for (const Ser2Net::Mode mode : {Ser2Net::Mode::Raw, Ser2Net::Mode::Rfc2217}) {
        SimProcess sim({"--channels", "2", "--baud", QString::number(kBaud)});
        Ser2Net box({{sim.Device(), mode}});
        if (!sim.Running() || !box.Running())
            return 1;
        const double s = TimeDownload(box.Url(0), kBlocks);
        if (s < 0)
            return 1;
        std::printf("%-8s %.3f s, line time %.3f s, ratio %.4f (target <= 1.05)\n",
                    mode == Ser2Net::Mode::Raw ? "raw" : "rfc2217", s, LineSeconds(kBlocks),
                    s / LineSeconds(kBlocks));
        std::fflush(stdout);
    }
    {
        PacedLineFloor floor(kBaud, 4 + 5 + 2, 4 + 32 + 2);
        Ser2Net box({{QString::fromStdString(floor.Device()), Ser2Net::Mode::Raw}});
        if (!box.Running())
            return 1;
        std::printf("this machine's floor: 2000 bare exchanges paced the same way over a "
                    "pseudo-terminal through ser2net raw, ratio %.4f\n",
                    floor.RatioThrough(box.Port(0), 2000));
        std::fflush(stdout);
    }
    if (relay) {
        SimProcess sim({"--channels", "2", "--baud", QString::number(kBaud)});
        Ser2Net box({{sim.Device(), Ser2Net::Mode::Raw}});
        if (!sim.Running() || !box.Running())
            return 1;
        DelayRelay far(box.Port(0), kRelayDelayMs);
        const double s =
            TimeDownload(QStringLiteral("tcp://127.0.0.1:%1").arg(far.Port()), kRelayBlocks);
        if (s < 0)
            return 1;
        const double expected =
            LineSeconds(kRelayBlocks) + kRelayBlocks * 2 * kRelayDelayMs / 1000.0;
        std::printf("relay %d ms each way, the first %d blocks: %.3f s, line time plus round trips "
                    "%.3f s, ratio %.4f (target <= 1.05)\n",
                    kRelayDelayMs, kRelayBlocks, s, expected, s / expected);
    }
    return 0;
}
