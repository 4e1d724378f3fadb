// Time from start to the window shown, as the program starts:
//   found  - the controller answers on the configured port (the simulator as COM1);
//   none   - no controller and no serial device at all;
//   silent - no controller, but COM1 to COM3 open and stay silent (one answer time-out each).
// The first window of the process is the cold figure (it includes the QApplication, fonts and
// style); the further ones show what the window and the discovery cost on their own. Message
// boxes are answered at once so that only the program's own time is measured.
//
//   bench_app_startup [found|none|silent] [repeats]

#include "MainForm.h"
#include "PortMap.h"
#include "SimProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

class AnswerAtOnce : public UserDialogs {
public:
    int messages = 0;
    int ShowMessageBox(const QString&, const QString&, MessageIcon, int buttons) override {
        ++messages;
        return buttons & MbOk ? MbOk : buttons;
    }
    std::optional<QString> InputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    bool ExecuteSave(FileSaveDialog&) override { return false; }
};

// Milliseconds since the process was started by the kernel (10 ms resolution).
double MsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string field;
    unsigned long long start = 0;
    for (int i = 1; i <= 22 && stat >> field; ++i)
        if (i == 22)
            start = std::stoull(field);
    std::ifstream uptimeFile("/proc/uptime");
    double uptime = 0;
    uptimeFile >> uptime;
    return (uptime - static_cast<double>(start) / static_cast<double>(sysconf(_SC_CLK_TCK))) *
           1000.0;
}

double ShowWindow(const QString& settingsPath, const std::shared_ptr<AnswerAtOnce>& dialogs) {
    QElapsedTimer timer;
    timer.start();
    MainFormOptions options;
    options.systemDevices = [] { return QStringList(); }; // never a real device
    options.settingsPath = settingsPath;
    options.dialogs = dialogs;
    TMainForm form(options);
    form.show();
    while (!form.windowHandle() || !form.windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QApplication::processEvents();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    form.close();
    return ms;
}

} // namespace

int main(int argc, char* argv[]) {
    const double atMain = MsSinceProcessStart();
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    const double appReady = static_cast<double>(sinceMain.nsecsElapsed()) / 1e6;
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray("found");
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 10;

    QTemporaryDir dir;
    const QString ini = dir.filePath("kv9000.INI");
    std::vector<std::unique_ptr<SimProcess>> sims;
    QString settings = "[General]\nCOM port=1\n[Ports]\n";
    if (mode == "found") {
        sims.push_back(std::make_unique<SimProcess>(QStringList{"--channels", "2"}));
        settings += "COM1=" + sims.back()->Device() + "\n";
    } else if (mode == "silent") {
        // Controllers at another address: the ports open, nobody answers address 1.
        for (int n = 1; n <= 3; ++n) {
            sims.push_back(std::make_unique<SimProcess>(QStringList{"--address", "77"}));
            settings += QStringLiteral("COM%1=%2\n").arg(n).arg(sims.back()->Device());
        }
    }
    for (const auto& sim : sims)
        if (!sim->Running()) {
            std::fprintf(stderr, "kv9000-sim did not start (KV_BIN_DIR?)\n");
            return 1;
        }
    auto writeSettings = [&] {
        QFile f(ini);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(settings.toLatin1());
    };

    writeSettings();
    auto dialogs = std::make_shared<AnswerAtOnce>();
    const double cold = ShowWindow(ini, dialogs);
    std::vector<double> warm;
    for (int i = 0; i < repeats; ++i) {
        writeSettings(); // the same start every time
        warm.push_back(ShowWindow(ini, dialogs));
    }
    std::sort(warm.begin(), warm.end());

    std::printf("mode %s, platform %s\n", mode.constData(),
                qPrintable(QGuiApplication::platformName()));
    std::printf("process start to main: %.0f ms (10 ms resolution)\n", atMain);
    std::printf("main to QApplication ready: %.1f ms\n", appReady);
    std::printf("first window, creation to shown: %.1f ms\n", cold);
    std::printf("further windows (%d): median %.1f ms, max %.1f ms\n", repeats,
                warm[warm.size() / 2], warm.back());
    std::printf("message boxes answered: %d\n", dialogs->messages);
    return 0;
}
