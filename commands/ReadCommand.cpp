#include "ReadCommand.h"

#include "NetworkPort.h"

#include "ArchiveGeometry.h"
#include "BlocksReadText.h"
#include "ConsoleText.h"
#include "ControllerRead.h"
#include "CoreModeRun.h"
#include "DeviceAddressSetting.h"
#include "FrameLink.h"
#include "KeptRead.h"
#include "LibraryCommandLine.h"
#include "NewRecordsRead.h"
#include "OneLinePath.h"
#include "Port.h"
#include "PortMap.h"
#include "PortSettings.h"
#include "PortSurvey.h"
#include "ReadFailureText.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "TimeLeft.h"
#include "UserFolders.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

namespace {

const QString kGeneral = QStringLiteral("General");

int Fail(const QString& cause) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: ") + cause + u'\n');
    return 1;
}

// Another program holding the port, or a port this user cannot open, is named before the port
// is touched: the port doctor's survey knows both. An empty text: the port may be used.
QString PortRefusal(const PortMap& ports, int port) {
    // A number whose entry in the settings was refused names no device at all.
    if (const QString refused = ports.RefusedCause(port); !refused.isEmpty())
        return QStringLiteral("%1: %2").arg(PortName(port), refused);
    const SurveyReport survey = SurveyPorts(ports, SurveyRoots{}, SurveyUser::Current(), port);
    for (const PortRow& row : survey.rows) {
        if (row.port != port)
            continue;
        if (row.state == PortState::Ready)
            return {};
        QString cause =
            QStringLiteral("%1 (%2): %3").arg(PortName(port), OneLinePath(row.node), row.cause);
        if (!row.cure.isEmpty())
            cause += QStringLiteral("; ") + row.cure;
        return cause;
    }
    return QStringLiteral("%1: порту не назначено устройство (см. kv9000 --diagnose)")
        .arg(PortName(port));
}

// The progress line, rewritten in place while standard error is a terminal: what is read, its
// share done and the time left.
void ShowProgress(const QString& name, const QString& what, qint64 done, qint64 total,
                  const QElapsedTimer& clock, int& shownPercent) {
    const int percent = total > 0 ? static_cast<int>(100 * done / total) : 0;
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    const auto left = EstimateSecondsLeft(done, total, clock.elapsed() / 1000.0);
    WriteConsoleText(stderr,
                     QStringLiteral("\r%1: %2 %3%%4   ")
                         .arg(name, what)
                         .arg(percent)
                         .arg(left ? QStringLiteral(", ") + FormatTimeLeft(*left) : QString()));
}

ControllerReadHooks ProgressHooks(const QString& name, QElapsedTimer& clock, int& shownPercent) {
    ControllerReadHooks hooks;
    if (IsConsoleTerminal(stderr))
        hooks.onProgress = [name, &clock, &shownPercent](int offset) {
            ShowProgress(name, QStringLiteral("чтение архива"), offset, ArchiveSize, clock,
                         shownPercent);
        };
    return hooks;
}

// The same for a read of only the new records: over the blocks it reads; the cause of a whole
// read is said on its own line whatever standard error is.
NewRecordsDownloadHooks NewRecordsProgress(const QString& name, QElapsedTimer& clock,
                                           int& shownPercent) {
    NewRecordsDownloadHooks hooks;
    hooks.onWholeRead = [name, &shownPercent](const QString& cause) {
        WriteConsoleText(
            stderr, QStringLiteral("%1kv9000: %2: читается весь архив: %3\n")
                        .arg(shownPercent >= 0 ? QStringLiteral("\n") : QString(), name, cause));
        shownPercent = -1;
    };
    if (IsConsoleTerminal(stderr))
        hooks.onBlocks = [name, &clock, &shownPercent](int done, int total) {
            ShowProgress(name, QStringLiteral("чтение новых записей"), done, total, clock,
                         shownPercent);
        };
    return hooks;
}

int Read(const CommandLine& line) {
    // Read only: nothing here writes the settings file.
    const SettingsLocation where = ProgramSettingsLocation();
    const SettingsFile settings(where.readPath, where.writePath);
    const PortSettings ports = ReadPortSettings(settings);
    for (const QString& refused : ports.refused)
        WriteConsoleText(stderr, QStringLiteral("kv9000: %1\n").arg(refused));
    // The port is resolved once, here, and passed down.
    const Port port = ResolvePort(line.readPort, ports.ports);
    const QString name = port.named;
    const int speed = settings.ReadInteger(kGeneral, QStringLiteral("COM speed"), 115200);
    int address = line.readAddress;
    if (!address) {
        // The address the window would use, said when it is not what the file says.
        const DeviceAddressSetting setting = ReadDeviceAddress(settings);
        if (!setting.notice.isEmpty())
            WriteConsoleText(stderr, QStringLiteral("kv9000: %1\n").arg(setting.notice));
        address = setting.address;
    }
    if (port.number > 0)
        if (const QString refusal = PortRefusal(ports.ports, port.number); !refusal.isEmpty())
            return Fail(refusal);

    FrameLink link(ports.ports);
    link.DeviceAddress = static_cast<std::uint8_t>(address);
    // A port that does not open (held by another program) is told apart from a silent line; a
    // box another reader of this machine has open says who ("порт занят: …").
    if (!link.Open(port, speed)) {
        if (link.OpenFailure().isEmpty())
            return Fail(QStringLiteral("%1: порт не открывается").arg(name));
        // A modem that has not called is no port that failed: "регулятор не на связи (…)".
        if (link.OpenBusy() || NamesDialinPort(port.device))
            return Fail(QStringLiteral("%1: %2").arg(name, link.OpenFailure()));
        return Fail(QStringLiteral("%1: порт не открывается: %2").arg(name, link.OpenFailure()));
    }
    if (!link.OpenNotice().isEmpty())
        WriteConsoleText(stderr, QStringLiteral("kv9000: %1\n").arg(link.OpenNotice()));

    QElapsedTimer clock;
    clock.start();
    int shownPercent = -1;
    ControllerRead read;
    std::optional<int> blocksRead;
    if (line.readNew) {
        NewRecordsControllerRead newRead = ReadControllerNewRecords(
            link, port, speed, ArchivesFolder(), NewRecordsProgress(name, clock, shownPercent));
        read = std::move(newRead.read);
        if (newRead.wholeReadCause.isEmpty())
            blocksRead = newRead.blocksRead;
    } else {
        read = ReadController(link, port, speed, ProgressHooks(name, clock, shownPercent));
    }
    // The port as the kept file names it: with the address a modem called in from.
    const QString shownPort =
        link.CurrentPortLabel().isEmpty() ? port.Shown() : link.CurrentPortLabel();
    link.CloseCOM();
    if (shownPercent >= 0)
        WriteConsoleText(stderr, QStringLiteral("\n"));
    if (read.outcome != ControllerReadOutcome::Completed)
        return Fail(ReadFailureText(read, name, address));

    const KeptRead kept = KeepCompletedRead(ArchivesFolder(), read, shownPort,
                                            QDateTime::currentDateTime(), blocksRead);
    if (!kept.error.isEmpty())
        return Fail(QStringLiteral("архив не сохранён: %1").arg(kept.error));
    if (kept.anotherController)
        WriteConsoleText(stderr, QStringLiteral("kv9000: %1: после чтения ответил другой регулятор "
                                                "(серийный номер %2): архив сохранён под ним\n")
                                     .arg(name, kept.contents.serial
                                                    ? QString::number(*kept.contents.serial)
                                                    : QStringLiteral("неизвестен")));
    if (blocksRead)
        WriteConsoleText(stderr,
                         QStringLiteral("kv9000: %1: %2\n").arg(name, BlocksReadText(blocksRead)));
    IndexKeptDownload(
        kept.path,
        settings.ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {}).trimmed());
    WriteConsoleText(stdout, OneLinePath(QDir::toNativeSeparators(kept.path)) + u'\n');
    return 0;
}

} // namespace

int AnswerReadCommand(const CommandLine& line, int& argc, char** argv) {
    return RunCoreMode(
        argc, argv, [&line] { return Read(line); }, Fail);
}
