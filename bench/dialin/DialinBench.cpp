// kv9000 --listen, the real program as an office runs it, with kv9000-sim --dialin modems calling
// it over the loopback address:
//
//   1. 2,000 modems of one simulator call at once: seconds until the listener holds them all;
//   2. those held idle for 60 s with a heartbeat every second: the listener's resident memory
//      (peak and end) and its processor time as a share of one core;
//   3. a modem that stops without closing its call (its own simulator stopped): seconds until the
//      listener says it is silent, three heartbeat intervals of 1 s allowed;
//   4. 200 controllers behind modems, one day of new records each, collected with --collect
//      --jobs 8, beside the same fleet on the simulator's TCP ports;
//   5. one controller 7 days new, --read dialin:ID --new, with a relay that holds every byte
//      25 ms each way between its modem and the listener (a cellular network).
//
//   bench_dialin            KV_BENCH_QUICK=1 bench_dialin: 200 modems held 10 s
//
// Every figure is printed with its target; the data, settings and runtime folders are a
// temporary folder's.

#include "BenchStart.h"
#include "DelayRelay.h"
#include "IdlePollFloor.h"
#include "LoggedListener.h"
#include "Loopback.h"
#include "ProcessMemory.h"
#include "ProgramRun.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using Clock = LoggedListener::Clock;

const QString kOnLine = QStringLiteral("на связи");
const QString kSilent = QStringLiteral("молчит дольше трёх интервалов");
// The day of the first collections; the simulators are started again a day and a week later.
const QString kDay = QStringLiteral("2026-11-01T10:00");
const QString kNextDay = QStringLiteral("2026-11-02T10:00");
const QString kWeekLater = QStringLiteral("2026-11-08T10:00");

double Since(Clock::time_point from, Clock::time_point to = Clock::now()) {
    return std::chrono::duration<double>(to - from).count();
}

// "dialin:KV0001" … for count modems from first, and extra ones.
QStringList DialinPorts(int first, int count, const QStringList& extra = {}) {
    QStringList ports;
    for (int i = first; i < first + count; ++i)
        ports << QStringLiteral("dialin:KV%1").arg(i, 4, 10, QLatin1Char('0'));
    return ports + extra;
}

// A fleet list of those ports at address 1.
bool WriteList(const QString& path, const QStringList& ports) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write("port\taddress\tname\n");
    for (const QString& port : ports)
        file.write(QStringLiteral("%1\t1\tbench %1\n").arg(port).toUtf8());
    return true;
}

// The benchmark's folders: every child finds its data, state, settings and runtime folders here.
class Home {
public:
    Home() {
        for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            qputenv(name, dir_.path().toLocal8Bit());
        const QString run = dir_.filePath(QStringLiteral("run"));
        QDir().mkpath(run);
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", run.toLocal8Bit());
        QDir().mkpath(dir_.filePath(QStringLiteral("kv9000")));
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    // The fleet list the listener holds calls for.
    bool WriteFleet(const QStringList& ports) const {
        return WriteList(Path(QStringLiteral("kv9000/fleet.tsv")), ports);
    }

private:
    QTemporaryDir dir_;
};

// A listener beside its own settings file with the [Dial-in] section given, on a free loopback
// port, once it says that it listens and has read a fleet of fleet modems.
struct Listener {
    QString program;
    unsigned short port = 0;
    std::unique_ptr<LoggedListener> process;
};

bool StartListener(const Home& home, const QString& dialin, int fleet, Listener& listener) {
    listener.program = ProgramWithSettings(home.Path(QStringLiteral("bin")),
                                           QStringLiteral("[Dial-in]\n") + dialin);
    listener.port = FreeTcpPort();
    listener.process = std::make_unique<LoggedListener>(listener.program, listener.port);
    if (!listener.process->WaitFor(QStringLiteral("принимаются"), 1, 10000) ||
        !listener.process->WaitFor(QStringLiteral("модемов в списке регуляторов: %1").arg(fleet), 1,
                                   10000)) {
        std::fprintf(stderr, "the listener did not start:\n%s\n",
                     qPrintable(listener.process->Tail()));
        return false;
    }
    return true;
}

// kv9000-sim --dialin to port: count modems from registration, with args.
std::unique_ptr<SimProcess> Modems(unsigned short port, const QString& registration, int count,
                                   const QStringList& args) {
    return std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--dialin"), QStringLiteral("127.0.0.1:%1").arg(port),
                    QStringLiteral("--registration"), registration, QStringLiteral("--fleet"),
                    QString::number(count)} +
        args);
}

// Waits until the listener has said count times that a modem is on the line.
bool WaitOnLine(const Listener& listener, int count, int timeoutMs) {
    if (listener.process->WaitFor(kOnLine, count, timeoutMs))
        return true;
    std::fprintf(stderr, "only %d of %d calls held:\n%s\n", listener.process->Count(kOnLine), count,
                 qPrintable(listener.process->Tail()));
    return false;
}

// 3. A modem of its own that stops, trials times: the longest wait for the listener to say so.
double Vanishing(const Listener& listener, int trials) {
    double longest = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const int heard = listener.process->Count(QStringLiteral("модем KV9001 на связи"));
        auto modem = Modems(listener.port, QStringLiteral("KV9001"), 1,
                            {QStringLiteral("--heartbeat"), QStringLiteral("1")});
        if (!modem->Running() ||
            !listener.process->WaitFor(QStringLiteral("модем KV9001 на связи"), heard + 1, 10000))
            return -1;
        // A few heartbeats, the stop falling at another point of the interval each trial.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500 + 330 * trial));
        const int silent = listener.process->Count(kSilent);
        const Clock::time_point stopped = Clock::now();
        ::kill(static_cast<pid_t>(modem->Pid()), SIGSTOP);
        const auto said = listener.process->WaitFor(kSilent, silent + 1, 15000);
        modem->Kill();
        if (!said)
            return -1;
        const double seconds = Since(stopped, *said);
        std::printf("    trial %d: %.2f s\n", trial + 1, seconds);
        longest = std::max(longest, seconds);
    }
    return longest;
}

// 1–3: many modems calling at once, held idle, and one that vanishes.
bool HeldCalls(const Home& home, int count, int idleSeconds) {
    home.WriteFleet(DialinPorts(1, count, {QStringLiteral("dialin:KV9001")}));
    Listener listener;
    if (!StartListener(home,
                       QStringLiteral("Heartbeat=KVHB\nHeartbeat interval=1\nCollect after=-1\n"),
                       count + 1, listener))
        return false;
    const Clock::time_point start = Clock::now();
    auto modems = Modems(listener.port, QStringLiteral("KV0001"), count,
                         {QStringLiteral("--heartbeat"), QStringLiteral("1")});
    if (!modems->Running() || !WaitOnLine(listener, count, 120000))
        return false;
    const auto first = listener.process->WaitFor(kOnLine, 1, 0);
    const auto last = listener.process->WaitFor(kOnLine, count, 0);
    std::printf("%d modems of one simulator calling at once: all held %.2f s after the simulator "
                "started (target <= 5), the first %.2f s; calls closed on the way %d\n",
                count, Since(start, *last), Since(start, *first),
                listener.process->Count(QStringLiteral("закрыт")));
    std::fflush(stdout);

    const pid_t pid = listener.process->Pid();
    const int closedBefore = listener.process->Count(QStringLiteral("закрыт"));
    const double cpuBefore = ProcessCpuSeconds(pid);
    const double simCpuBefore = ProcessCpuSeconds(static_cast<pid_t>(modems->Pid()));
    const Clock::time_point idleStart = Clock::now();
    long peakKb = VmRssKb(pid);
    while (Since(idleStart) < idleSeconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        peakKb = std::max(peakKb, VmRssKb(pid));
    }
    const double wall = Since(idleStart);
    const double cpu = ProcessCpuSeconds(pid) - cpuBefore;
    const double simCpu = ProcessCpuSeconds(static_cast<pid_t>(modems->Pid())) - simCpuBefore;
    std::printf("%d calls held idle %d s, a heartbeat every 1 s each: listener resident memory "
                "peak %.1f MB, end %.1f MB (target <= 100); processor time %.2f s, %.2f %% of "
                "one core (target <= 5), %.1f us a heartbeat; calls closed meanwhile %d; the "
                "simulator's processor %.2f %%\n",
                count, idleSeconds, peakKb / 1024.0, VmRssKb(pid) / 1024.0, cpu, cpu / wall * 100,
                cpu / (count * wall) * 1e6,
                listener.process->Count(QStringLiteral("закрыт")) - closedBefore,
                simCpu / wall * 100);
    const double poll = IdlePollMicroseconds(count, 2000);
    // The listener's event loop asks about every call at each wake-up: its time against this
    // floor says how many heartbeats a wake-up took in.
    std::printf("this machine's floor: one poll over %d idle loopback connections, nothing else "
                "done, %.1f us; the listener's processor time is %.0f of them a second (a "
                "wake-up every %.1f heartbeats if it did nothing else)\n",
                count, poll, cpu / wall / poll * 1e6, count / (cpu / wall / poll * 1e6));
    std::fflush(stdout);

    std::printf("a modem stopped without closing its call (heartbeat interval 1 s), with the "
                "%d others held:\n",
                count);
    const double vanished = Vanishing(listener, 3);
    if (vanished < 0) {
        std::fprintf(stderr, "the stopped modem was not said silent:\n%s\n",
                     qPrintable(listener.process->Tail()));
        return false;
    }
    std::printf("  said silent after at most %.2f s (target <= 3, three intervals of 1 s)\n",
                vanished);
    std::fflush(stdout);
    return true;
}

// kv9000 (program) --collect list --jobs 8 with the data and state folders of dataHome (empty:
// the benchmark's): seconds, or negative when not every controller was collected as outcome.
double Collect(const QString& program, const QString& list, int count, const QString& outcome,
               const QString& dataHome = {}) {
    QProcessEnvironment environment = ProgramEnvironment();
    if (!dataHome.isEmpty())
        for (const QString& name :
             {QStringLiteral("XDG_DATA_HOME"), QStringLiteral("XDG_STATE_HOME")})
            environment.insert(name, dataHome);
    QElapsedTimer clock;
    clock.start();
    const ProgramRun run = RunProgram(
        {QStringLiteral("--collect"), list, QStringLiteral("--jobs"), QStringLiteral("8")},
        environment, program);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const int got = static_cast<int>(run.out.count(QStringLiteral("\t%1\t").arg(outcome)));
    if (run.exitCode != 0 || got != count) {
        std::fprintf(stderr, "kv9000 --collect: exit %d, %d of %d %s\n%s%s\n", run.exitCode, got,
                     count, qPrintable(outcome), qPrintable(run.out.left(2000)),
                     qPrintable(run.err.left(2000)));
        return -1;
    }
    return seconds;
}

// 4. The fleet behind modems: collected whole, then a day later timed.
double CollectThroughCalls(const Home& home, const Listener& listener, int count) {
    const QString list = home.Path(QStringLiteral("collect.tsv"));
    WriteList(list, DialinPorts(1, count));
    const int before = listener.process->Count(kOnLine);
    auto modems =
        Modems(listener.port, QStringLiteral("KV0001"), count,
               {QStringLiteral("--at"), kDay, QStringLiteral("--redial"), QStringLiteral("0.2")});
    if (!modems->Running() || !WaitOnLine(listener, before + count, 60000) ||
        Collect(listener.program, list, count, QStringLiteral("whole")) < 0)
        return -1;
    modems->Stop();
    modems = Modems(
        listener.port, QStringLiteral("KV0001"), count,
        {QStringLiteral("--at"), kNextDay, QStringLiteral("--redial"), QStringLiteral("0.2")});
    if (!modems->Running() || !WaitOnLine(listener, before + 2 * count, 60000))
        return -1;
    return Collect(listener.program, list, count, QStringLiteral("new"));
}

// 4. The same fleet on the simulator's TCP ports, kept in a data folder of its own.
double CollectOverTcp(const Home& home, const QString& program, int count) {
    const QString data = home.Path(QStringLiteral("tcp"));
    QDir().mkpath(data);
    int port = 0;
    auto sim = StartSimFleet(count, {QStringLiteral("--at"), kDay}, port);
    if (!sim->Running())
        return -1;
    QStringList ports;
    for (int i = 0; i < count; ++i)
        ports << QStringLiteral("tcp://127.0.0.1:%1").arg(port + i);
    const QString list = home.Path(QStringLiteral("tcp.tsv"));
    WriteList(list, ports);
    if (Collect(program, list, count, QStringLiteral("whole"), data) < 0)
        return -1;
    sim.reset();
    int again = 0;
    sim = StartSimFleet(count, {QStringLiteral("--at"), kNextDay}, again);
    if (!sim->Running() || again != port)
        return -1;
    return Collect(program, list, count, QStringLiteral("new"), data);
}

// 5. One controller read whole at once, then a week later only its new records through the relay.
bool ReadThroughRelay(const Listener& listener) {
    const QString id = QStringLiteral("dialin:KV0500");
    const int before = listener.process->Count(kOnLine);
    auto modem =
        Modems(listener.port, QStringLiteral("KV0500"), 1,
               {QStringLiteral("--at"), kDay, QStringLiteral("--redial"), QStringLiteral("0.2")});
    if (!modem->Running() || !WaitOnLine(listener, before + 1, 10000))
        return false;
    const ProgramRun whole =
        RunProgram({QStringLiteral("--read"), id}, ProgramEnvironment(), listener.program);
    modem->Stop();
    if (whole.exitCode != 0) {
        std::fprintf(stderr, "kv9000 --read %s: %s\n", qPrintable(id), qPrintable(whole.err));
        return false;
    }
    constexpr int kDelayMs = 25;
    const DelayRelay relay(listener.port, kDelayMs);
    modem = Modems(
        relay.Port(), QStringLiteral("KV0500"), 1,
        {QStringLiteral("--at"), kWeekLater, QStringLiteral("--redial"), QStringLiteral("0.2")});
    if (!modem->Running() || !WaitOnLine(listener, before + 2, 10000))
        return false;
    QElapsedTimer clock;
    clock.start();
    const ProgramRun fresh = RunProgram({QStringLiteral("--read"), id, QStringLiteral("--new")},
                                        ProgramEnvironment(), listener.program);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (fresh.exitCode != 0) {
        std::fprintf(stderr, "kv9000 --read %s --new: %s\n", qPrintable(id), qPrintable(fresh.err));
        return false;
    }
    std::printf("one controller behind a modem, %d ms each way between the modem and the listener, "
                "7 days new, --read %s --new: %.2f s (target <= 60); it said: %s\n",
                kDelayMs, qPrintable(id), seconds, qPrintable(fresh.err.trimmed().simplified()));
    return true;
}

// 4–5: collections and reads through the calls, on a listener without heartbeats.
bool ReadsThroughCalls(const Home& home, int count) {
    home.WriteFleet(DialinPorts(1, count, {QStringLiteral("dialin:KV0500")}));
    Listener listener;
    if (!StartListener(home, QStringLiteral("Collect after=-1\n"), count + 1, listener))
        return false;
    const double dialin = CollectThroughCalls(home, listener, count);
    if (dialin < 0)
        return false;
    const double tcp = CollectOverTcp(home, listener.program, count);
    if (tcp < 0)
        return false;
    std::printf("%d controllers behind modems, unpaced, one day new each, --collect --jobs 8: "
                "%.2f s (target <= 10); the same fleet on tcp:// ports %.2f s\n",
                count, dialin, tcp);
    std::fflush(stdout);
    return ReadThroughRelay(listener);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StartBench(argc, argv);
    const bool quick = qEnvironmentVariableIntValue("KV_BENCH_QUICK") != 0;
    const Home home;
    if (!HeldCalls(home, quick ? 200 : 2000, quick ? 10 : 60))
        return 1;
    if (!ReadsThroughCalls(home, 200))
        return 1;
    return 0;
}
