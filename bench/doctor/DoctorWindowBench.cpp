// The port doctor's window with 20 USB adapters of a device and sysfs tree made here: the time
// from creating the window (which surveys the ports) until it is shown with every row filled.
// The first window includes the style and fonts; the median of the later ones is the figure.
//
//   bench_doctor_window [devices] [repeats]

#include "PortDoctorWindow.h"
#include "PortMap.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

// dev/ttyUSB<i> with a by-id link, its USB device, driver and latency timer in sys.
QStringList MakeTree(const SurveyRoots& roots, int devices) {
    QStringList nodes;
    for (int i = 0; i < devices; ++i) {
        const QString name = QStringLiteral("ttyUSB%1").arg(i);
        const QString node = roots.dev + '/' + name;
        Write(node, {});
        QDir().mkpath(roots.dev + "/serial/by-id");
        QFile::link(node,
                    roots.dev +
                        QStringLiteral("/serial/by-id/usb-Maker_Adapter_%1-if00-port0").arg(i));
        const QString usb = roots.sys + QStringLiteral("/devices/usb1/1-%1").arg(i + 1);
        Write(usb + "/idVendor", "0403\n");
        Write(usb + "/idProduct", "6001\n");
        Write(usb + "/manufacturer", "Maker\n");
        Write(usb + "/product", "Adapter\n");
        const QString port = usb + QStringLiteral("/1-%1:1.0/").arg(i + 1) + name;
        Write(port + "/latency_timer", "16\n");
        QFile::link(roots.sys + "/bus/usb-serial/drivers/ftdi_sio", port + "/driver");
        QDir().mkpath(roots.sys + "/class/tty/" + name);
        QFile::link(port, roots.sys + "/class/tty/" + name + "/device");
        nodes << node;
    }
    return nodes;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int devices = argc > 1 ? std::atoi(argv[1]) : 20;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 10;
    QTemporaryDir dir;
    const SurveyRoots roots{dir.filePath("dev"), dir.filePath("sys"), dir.filePath("proc"),
                            dir.filePath("kmsg")};
    const QStringList nodes = MakeTree(roots, devices);
    PortDoctorHooks hooks;
    hooks.ports = [nodes] { return PortMap({}, {}, [nodes] { return nodes; }); };

    std::vector<double> ms;
    for (int i = 0; i <= repeats; ++i) {
        QElapsedTimer clock;
        clock.start();
        PortDoctorWindow window(hooks, roots);
        window.show();
        QApplication::processEvents();
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (window.Table->rowCount() != devices) {
            std::fprintf(stderr, "%d rows, expected %d\n", window.Table->rowCount(), devices);
            return 1;
        }
        if (i == 0)
            std::printf("port doctor, %d devices: first window %.1f ms\n", devices, elapsed);
        else
            ms.push_back(elapsed);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("port doctor, %d devices: median %.1f ms, worst %.1f ms over %d windows "
                "(target <= 100 ms)\n",
                devices, ms[ms.size() / 2], ms.back(), repeats);
    return 0;
}
