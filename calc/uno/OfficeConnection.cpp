#include "OfficeConnection.h"

#include "UnoText.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <csignal>
#include <cstdlib>
#include <exception>

namespace uno = css::uno;

namespace {

// After the started soffice has ended, a connection that is coming shows up within this time
// (a running office sets up the --accept before it lets the new process go).
constexpr qint64 AfterLauncherEndedMs = 5000;
constexpr qint64 RetryMs = 250;
constexpr unsigned long WaitStepMs = 50;

// The pipe our offices accept on: one name for the whole run.
const QString& Pipe() {
    static const QString pipe =
        QStringLiteral("kv9000_") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return pipe;
}

// One attempt: the context of the office accepting on the pipe, or null when none accepts (not
// yet, or no more: an office the user is closing may refuse in other ways than no connection).
uno::Reference<uno::XComponentContext>
TryResolve(const uno::Reference<css::bridge::XUnoUrlResolver>& resolver) {
    const rtl::OUString url =
        ToUno(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(Pipe()));
    try {
        return uno::Reference<uno::XComponentContext>(resolver->resolve(url), uno::UNO_QUERY);
    } catch (const uno::Exception&) {
        return {};
    }
}

// Sleeps about ms in short slices, calling waitStep after each. False when it gave up.
bool Pause(qint64 ms, const std::function<bool()>& waitStep) {
    QElapsedTimer slept;
    slept.start();
    while (slept.elapsed() < ms) {
        QThread::msleep(WaitStepMs);
        if (waitStep && !waitStep())
            return false;
    }
    return true;
}

// Alive and not a zombie: where nobody reaps the detached process, it lingers as one.
bool Running(qint64 pid) {
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype afterName = line.lastIndexOf(')');
    return afterName < 0 || line.mid(afterName + 2, 1) != "Z";
}

// This process's own UNO runtime, made once and never released, so that it outlives every bridge
// to the office. It reads its types from the office's program folder (fundamentalrc there names
// the office's type libraries too): without them no office interface can cross the bridge.
// Null while it was never made and there is no soffice to make it from.
uno::Reference<uno::XComponentContext> LocalContext(const QString& soffice) {
    static const uno::Reference<uno::XComponentContext>* local = nullptr;
    if (local == nullptr) {
        if (soffice.isEmpty())
            return {};
        const QString programFolder =
            QFileInfo(QFileInfo(soffice).canonicalFilePath()).absolutePath();
        rtl::Bootstrap::set(
            rtl::OUString("URE_BOOTSTRAP"),
            ToUno(
                QUrl::fromLocalFile(programFolder + QStringLiteral("/fundamentalrc")).toString()));
        local = new uno::Reference<uno::XComponentContext>(
            cppu::defaultBootstrap_InitialComponentContext());
    }
    return *local;
}

// The office's pipe is written with a plain send(): were the office to end (a crash, a kill)
// just as a request goes out, the broken pipe would end this whole program with SIGPIPE. With
// the signal ignored the write fails and the call throws, which the export reports. Left alone
// where the program has set a handler of its own.
void IgnoreBrokenPipes() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

QString FindOffice() {
    if (const char* unoPath = std::getenv("UNO_PATH")) {
        const QString soffice = QString::fromLocal8Bit(unoPath) + QStringLiteral("/soffice");
        return QFileInfo(soffice).isExecutable() ? soffice : QString();
    }
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (!onPath.isEmpty())
        return onPath;
    const QString builtAgainst = QStringLiteral(KV_OFFICE_PROGRAM_DIR "/soffice");
    return QFileInfo(builtAgainst).isExecutable() ? builtAgainst : QString();
}

uno::Reference<uno::XComponentContext> ConnectToOffice(std::chrono::milliseconds limit,
                                                       const QString& outputFile,
                                                       const std::function<bool()>& waitStep) {
    IgnoreBrokenPipes();
    try {
        const QString soffice = FindOffice();
        const uno::Reference<uno::XComponentContext> local = LocalContext(soffice);
        if (!local.is())
            return {};
        const uno::Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(local);
        // The office an earlier call started or reached, still running: no launcher needed.
        if (uno::Reference<uno::XComponentContext> context = TryResolve(resolver); context.is())
            return context;
        if (soffice.isEmpty())
            return {};

        const QString& pipe = Pipe();
        const QStringList arguments{QStringLiteral("--nologo"), QStringLiteral("--nodefault"),
                                    QStringLiteral("--norestore"), QStringLiteral("--nolockcheck"),
                                    QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe)};
        // Detached: the office outlives this program and is never ended by it. It gets none of
        // our open descriptors, so that nobody waiting for our output waits for the office.
        QProcess launcher;
        launcher.setProgram(soffice);
        launcher.setArguments(arguments);
        launcher.setStandardInputFile(QProcess::nullDevice());
        const QString output = outputFile.isEmpty() ? QProcess::nullDevice() : outputFile;
        launcher.setStandardOutputFile(output, QIODevice::Append);
        launcher.setStandardErrorFile(output, QIODevice::Append);
        qint64 pid = 0;
        if (!launcher.startDetached(&pid))
            return {};

        QElapsedTimer waited;
        waited.start();
        qint64 launcherEndedAt = -1;
        for (;;) {
            // Not accepting yet: the office is still starting.
            if (uno::Reference<uno::XComponentContext> context = TryResolve(resolver); context.is())
                return context;
            if (launcherEndedAt < 0 && !Running(pid))
                launcherEndedAt = waited.elapsed();
            if (launcherEndedAt >= 0 && waited.elapsed() - launcherEndedAt > AfterLauncherEndedMs)
                return {}; // it ended without an office accepting: it could not start
            if (waited.elapsed() > limit.count())
                return {};
            // The office started so far keeps starting when the wait is given up; it is left
            // alone, as every office the program reaches is.
            if (!Pause(RetryMs, waitStep))
                return {};
        }
    } catch (const uno::Exception&) {
        return {};
    } catch (const std::exception&) {
        return {};
    }
}
