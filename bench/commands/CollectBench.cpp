// kv9000 --collect, the real program as an office runs it, against kv9000-sim --tcp --fleet:
//
//   unpaced: 200 controllers collected whole with --jobs 8, then again a day later (one day of
//            new records each); wall time and the collector's peak resident memory;
//   paced:   64 controllers at 115,200 bit/s, one day of new records each, with --jobs 8,
//            against one controller alone: the wall time over (one controller's time × 64 / 8).
//
//   bench_collect [--unpaced-only | --paced-only]
//
// Beside the whole collection it prints this machine's floor for it: the same number of
// exchanges as bare loopback TCP round trips in 8 thread pairs (TcpRoundTripFloor.h), and the
// processor time an exchange took in the collector, in the simulator and in the bare pair: on a
// machine with few processors the collection's time is their sum shared out.

#include "BenchStart.h"
#include "SimProcess.h"
#include "TcpRoundTripFloor.h"

#include "ProcessMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Collected {
    double seconds = -1; // negative: the collection did not collect every controller
    long peakKb = 0;
    double cpuSeconds = 0; // the collector's, user and system
};

// The processor time (user and system) a resource count holds.
double CpuSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A fleet list of n controllers from firstPort on.
QString WriteList(const QString& path, int firstPort, int from, int n) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("port\taddress\tname\n");
    for (int i = from; i < from + n; ++i)
        file.write(
            QStringLiteral("tcp://127.0.0.1:%1\t1\tbench %2\n").arg(firstPort + i).arg(i).toUtf8());
    return path;
}

// kv9000 --collect list --jobs 8 with home's data and state folders: its wall time and peak
// resident memory (the kernel's count for that child alone).
Collected Collect(const QString& home, const QString& list) {
    const QByteArray program = qgetenv("KV_BIN_DIR") + "/kv9000";
    const QByteArray out = QDir(home).filePath("collect.out").toLocal8Bit();
    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_", 4) != 0 && std::strncmp(*e, "DISPLAY=", 8) != 0)
            env.emplace_back(*e);
    for (const char* name : {"XDG_DATA_HOME=", "XDG_STATE_HOME=", "XDG_CONFIG_HOME="})
        env.push_back(QByteArray(name) + home.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    QByteArray listArg = list.toLocal8Bit();
    char collect[] = "--collect";
    char jobs[] = "--jobs";
    char eight[] = "8";
    char* argv[] = {
        const_cast<char*>(program.constData()), collect, listArg.data(), jobs, eight, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Collected result;
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakKb = usage.ru_maxrss;
    result.cpuSeconds = CpuSeconds(usage);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        result.seconds = seconds;
    else
        std::fprintf(stderr, "kv9000 --collect ended with status %d; see %s\n", status,
                     out.constData());
    return result;
}

bool Unpaced(const QTemporaryDir& dir) {
    constexpr int kFleet = 200;
    int port = 0;
    auto sim = StartSimFleet(kFleet, {"--at", "2024-03-01T10:00"}, port);
    if (!sim->Running())
        return false;
    const QString list = WriteList(dir.filePath("fleet.tsv"), port, 0, kFleet);
    const double simCpuBefore = ProcessCpuSeconds(sim->Pid());
    const Collected whole = Collect(dir.path(), list);
    const double simCpu = ProcessCpuSeconds(sim->Pid()) - simCpuBefore;
    sim.reset();
    if (whole.seconds < 0)
        return false;
    std::printf("%d controllers, unpaced, --jobs 8: whole archives %.2f s (target <= 30), peak "
                "resident memory %.1f MB\n",
                kFleet, whole.seconds, whole.peakKb / 1024.0);
    // 8,448 flash reads a controller: an 11-byte request frame, a 38-byte answer.
    const long exchanges = 8448L * kFleet;
    std::printf("  processor time an exchange: the collector %.1f us (keeping the files and the "
                "index included), the simulator %.1f us\n",
                whole.cpuSeconds / static_cast<double>(exchanges) * 1e6,
                simCpu / static_cast<double>(exchanges) * 1e6);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double floor = TcpRoundTripFloorSeconds(8, exchanges, 11, 38);
    getrusage(RUSAGE_SELF, &after);
    std::printf("the same %ld exchanges as bare loopback TCP round trips, 8 thread pairs, "
                "nothing else done: %.2f s, processor time %.1f us an exchange (both ends)\n",
                exchanges, floor,
                (CpuSeconds(after) - CpuSeconds(before)) / static_cast<double>(exchanges) * 1e6);
    int again = 0;
    sim = StartSimFleet(kFleet, {"--at", "2024-03-02T10:00"}, again);
    if (!sim->Running() || again != port)
        return false;
    const Collected fresh = Collect(dir.path(), list);
    if (fresh.seconds < 0)
        return false;
    std::printf("%d controllers, unpaced, --jobs 8: one day new each %.2f s (target <= 10), peak "
                "resident memory %.1f MB (target <= 150)\n",
                kFleet, fresh.seconds, fresh.peakKb / 1024.0);
    return true;
}

bool Paced() {
    constexpr int kFleet = 64;
    // Two homes, each with the whole archives of the fleet collected unpaced the day before:
    // one for one controller alone, one for the fleet.
    QTemporaryDir alone;
    QTemporaryDir fleet;
    int port = 0;
    auto sim = StartSimFleet(kFleet, {"--at", "2024-03-01T10:00"}, port);
    if (!sim->Running())
        return false;
    for (const QTemporaryDir* home : {&alone, &fleet})
        if (Collect(home->path(), WriteList(home->filePath("fleet.tsv"), port, 0, kFleet)).seconds <
            0)
            return false;
    sim.reset();
    int again = 0;
    sim = StartSimFleet(kFleet, {"--at", "2024-03-02T10:00", "--baud", "115200"}, again);
    if (!sim->Running() || again != port)
        return false;
    const Collected one = Collect(alone.path(), WriteList(alone.filePath("one.tsv"), port, 0, 1));
    const Collected all = Collect(fleet.path(), fleet.filePath("fleet.tsv"));
    if (one.seconds < 0 || all.seconds < 0)
        return false;
    const double bound = one.seconds * kFleet / 8;
    std::printf("%d controllers, 115200 bit/s, one day new each, --jobs 8: %.2f s; one alone "
                "%.2f s; ratio to one x 64 / 8 %.3f (target <= 1.2)\n",
                kFleet, all.seconds, one.seconds, all.seconds / bound);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto [unpaced, paced] = StartBench(argc, argv);
    QTemporaryDir dir;
    if (unpaced && !Unpaced(dir))
        return 1;
    if (paced && !Paced())
        return 1;
    return 0;
}
