// kv9000 --read, the real program as a user starts it, against kv9000-sim on a pseudo-terminal:
// unpaced (what the program, the pseudo-terminal and the simulator cost without a line), then
// with the simulator pacing the line like 115,200 bit/s, compared with the line's own time.
//
//   bench_read_command [--unpaced-only | --paced-only]

#include "BenchStart.h"
#include "PacedLineFloor.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kBlocks = 0x42000 / 32;
constexpr int kBaud = 115200;
constexpr int kRequestBytes = 4 + 5 + 2; // header, offset and count, CRC
constexpr int kAnswerBytes = 4 + 32 + 2;

// Seconds of one kv9000 --read COM1 against a simulator started with simArgs; negative when it
// did not keep a file.
double TimeRead(const QStringList& simArgs) {
    QTemporaryDir dir;
    SimProcess sim(QStringList{"--channels", "2"} + simArgs);
    if (sim.Device().isEmpty())
        return -1;
    const QString program = dir.filePath("kv9000");
    if (!QFile::copy(qEnvironmentVariable("KV_BIN_DIR") + "/kv9000", program))
        return -1;
    QFile settings(dir.filePath("kv9000.INI"));
    if (!settings.open(QIODevice::WriteOnly))
        return -1;
    settings.write(QStringLiteral("[Ports]\nCOM1=%1\n").arg(sim.Device()).toUtf8());
    settings.close();
    QProcess read;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", dir.filePath("data"));
    environment.remove("DISPLAY");
    read.setProcessEnvironment(environment);
    const auto start = std::chrono::steady_clock::now();
    read.start(program, {"--read", "COM1"});
    if (!read.waitForFinished(600000) || read.exitCode() != 0) {
        std::fprintf(stderr, "%s", read.readAllStandardError().constData());
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto [unpaced, paced] = StartBench(argc, argv);
    std::printf("kv9000 --read of %d blocks against kv9000-sim, the whole program\n", kBlocks);
    if (unpaced)
        for (int run = 1; run <= 3; ++run) {
            const double s = TimeRead({});
            if (s < 0)
                return 1;
            std::printf("unpaced run %d: %.3f s\n", run, s);
        }
    if (paced) {
        const double lineTime =
            static_cast<double>(kBlocks) * (kRequestBytes + kAnswerBytes) * 10.0 / kBaud;
        const double s = TimeRead({"--baud", QString::number(kBaud)});
        if (s < 0)
            return 1;
        std::printf("paced 115200 bit/s: %.3f s, line time %.3f s, ratio %.4f (target <= 1.02)\n",
                    s, lineTime, s / lineTime);
        PrintPacedLineFloor(kBaud, kRequestBytes, kAnswerBytes);
    }
    return 0;
}
