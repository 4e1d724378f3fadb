// kv9000-sim: a simulated controller on a pseudo-terminal. Prints the device path alone on its
// first line, then serves the controller protocol until SIGTERM or SIGINT. With --tcp, one or
// (--fleet N) many controllers on TCP ports, one "tcp://HOST:PORT" line each (see SimFleet.h);
// with --dialin, modems that call the office, one "dialin:REG" line each (see DialFleet.h).

#include "Cp1251.h"
#include "DialFleet.h"
#include "PseudoTerminal.h"
#include "SimArchive.h"
#include "SimController.h"
#include "SimFaults.h"
#include "SimFleet.h"
#include "SimHistory.h"
#include "SimJournal.h"
#include "SimLoop.h"
#include "SimOptions.h"

#include <QFile>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

// A controller answers at once, and a paced answer is due at an exact time. On a busy machine the
// scheduler lets a waking task wait for the running one's time slice; a short slice of our own
// (we use the CPU only in short bursts) gets us on it sooner. Best effort: older kernels ignore it.
void AskForShortTimeSlice() {
    struct {
        std::uint32_t size, sched_policy;
        std::uint64_t sched_flags;
        std::int32_t sched_nice;
        std::uint32_t sched_priority;
        std::uint64_t sched_runtime, sched_deadline, sched_period;
    } attr{};
    attr.size = sizeof attr;
    attr.sched_policy = SCHED_OTHER;
    attr.sched_runtime = 100'000; // ns
    syscall(SYS_sched_setattr, 0, &attr, 0);
}

int Fail(const QString& message) {
    std::fprintf(stderr, "kv9000-sim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QString error;
    const auto options = sim::ParseSimOptions(args, error);
    if (!options)
        return Fail(error);
    if (!options->helpText.isEmpty()) {
        std::fputs(qPrintable(options->helpText), stdout);
        return 0;
    }
    if (const std::optional<QString> missing = Cp1251Unavailable())
        return Fail(*missing);

    // Controller i of a fleet: its own serial number and history.
    const auto historyOf = [&](int i) {
        const int seed = (options->historySeed >= 0 ? options->historySeed : options->serial) + i;
        QByteArray history =
            sim::HistoryArchiveAt(options->channels, static_cast<std::uint32_t>(seed), *options->at,
                                  options->clockBackDays);
        sim::PlantFaults(history, options->channels, options->planted);
        return history;
    };
    QByteArray archive;
    if (options->at) {
        archive = historyOf(0);
    } else if (options->imagePath.isEmpty()) {
        archive = sim::GenerateArchive(options->channels, 9000, options->clean);
    } else {
        QFile file(options->imagePath);
        if (!file.open(QIODevice::ReadOnly))
            return Fail(options->imagePath + ": " + file.errorString());
        archive = file.readAll();
        if (archive.size() != sim::kArchiveSize)
            return Fail(options->imagePath +
                        QString(": %1 bytes, not %2").arg(archive.size()).arg(sim::kArchiveSize));
    }

    if (!options->at)
        sim::PlantFaults(archive, options->channels, options->planted);

    sim::Identity identity;
    identity.address = static_cast<std::uint8_t>(options->address);
    identity.serial = static_cast<std::uint16_t>(options->serial);
    identity.comment = ToCp1251(options->comment).left(sim::kMaxText);
    identity.identification =
        ToCp1251(options->identification.value_or(sim::DefaultIdentification(options->channels)))
            .left(sim::kMaxText);

    const bool overTcp = !options->tcpHost.isEmpty() || !options->dialHost.isEmpty();
    sim::SimJournal journal(overTcp ? QString() : options->logPath,
                            overTcp ? QString() : options->statePath);
    if (!journal.Ok())
        return Fail("cannot write the log " + options->logPath);
    journal.WriteState(identity);
    if (!journal.Ok())
        return Fail("cannot write the state file " + options->statePath);

    // The stop signals are blocked except while the loop waits, so none is ever missed.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    // Paced answers should leave on time, not whenever the default timer slack lets them.
    if (options->baud > 0)
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    AskForShortTimeSlice();

    if (!options->dialHost.isEmpty())
        return sim::DialFleet(
            *options, [&](int i) { return options->at ? historyOf(i) : archive; }, stopRequested,
            waitMask);
    if (overTcp)
        return sim::ServeFleet(
            *options, [&](int i) { return options->at ? historyOf(i) : archive; }, stopRequested,
            waitMask);

    sim::PseudoTerminal line;
    std::string lineError;
    if (!line.Open(lineError))
        return Fail(QString::fromStdString(lineError));

    sim::SimController controller(identity, archive);
    if (options->thenSerial || options->thenIdentification)
        controller.BecomeAfterArchive(
            static_cast<std::uint16_t>(options->thenSerial.value_or(options->serial)),
            options->thenIdentification ? ToCp1251(*options->thenIdentification).left(sim::kMaxText)
                                        : identity.identification);
    sim::SimFaults faults(options->faults);
    sim::SimLoop loop(line, controller, faults, journal, options->baud);

    std::printf("%s\n", line.DevicePath().c_str());
    std::fflush(stdout);
    return loop.Run(stopRequested, waitMask);
}
