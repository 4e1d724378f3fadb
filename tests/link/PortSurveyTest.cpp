// The port doctor's classification against a device, sysfs and /proc tree built here.

#include "PortSurvey.h"
#include "PortMap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

void Write(const QString& path, const QByteArray& text, QFile::Permissions mode = {}) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    if (mode)
        f.setPermissions(mode);
}

void Link(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_TRUE(QFile::link(target, link));
}

TEST(PortSurvey, ClassifiesPermissionBusyMissingAndForeignPathsWithWhatTheSystemTells) {
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const SurveyRoots roots{root + "/dev", root + "/sys", root + "/proc", root + "/kmsg"};
    const auto rw = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup;
    Write(roots.dev + "/ttyUSB0", {}, rw);
    Write(roots.dev + "/ttyACM0", {}, rw | QFile::ReadOther | QFile::WriteOther);
    Write(roots.dev + "/notaport", {});
    Link(roots.dev + "/ttyUSB0", roots.dev + "/serial/by-id/usb-Maker_Adapter_A1-if00-port0");
    const QString usb = roots.sys + "/devices/usb1/1-1";
    Write(usb + "/idVendor", "0403\n");
    Write(usb + "/idProduct", "6001\n");
    Write(usb + "/manufacturer", "Maker\n");
    Write(usb + "/product", "Adapter\n");
    Write(usb + "/1-1:1.0/ttyUSB0/latency_timer", "16\n");
    Link(roots.sys + "/bus/usb-serial/drivers/ftdi_sio", usb + "/1-1:1.0/ttyUSB0/driver");
    Link(usb + "/1-1:1.0/ttyUSB0", roots.sys + "/class/tty/ttyUSB0/device");
    Write(roots.sys + "/devices/usb1/1-2/idVendor", "2341\n");
    Link(roots.sys + "/bus/usb/drivers/cdc_acm", roots.sys + "/devices/usb1/1-2/1-2:1.0/driver");
    Link(roots.sys + "/devices/usb1/1-2/1-2:1.0", roots.sys + "/class/tty/ttyACM0/device");
    Link(roots.dev + "/ttyACM0", roots.proc + "/777/fd/5");
    Write(roots.proc + "/777/comm", "minicom\n");
    Write(roots.kernelLog,
          "usb 1-3: usbfs: interface 0 claimed by ch341 while 'brltty' sets config #1\n");

    const PortMap ports({{5, roots.dev + "/ttyUSB7"}, {6, roots.dev + "/notaport"}}, {}, [&] {
        return QStringList{roots.dev + "/ttyUSB0", roots.dev + "/ttyACM0"};
    });
    SurveyUser user{getuid() + 4242, "someone", {getgid() + 4242}, {getgid() + 4242}, 0};

    SurveyReport report = SurveyPorts(ports, roots, user);
    ASSERT_EQ(report.rows.size(), 4u);
    const PortRow& adapter = report.rows[0];
    EXPECT_EQ(adapter.port, 1);
    EXPECT_EQ(adapter.state, PortState::NoPermission);
    EXPECT_TRUE(adapter.cure.startsWith(QString("выполните sudo usermod -aG %1 someone, затем")
                                            .arg(QFileInfo(adapter.node).group())))
        << adapter.cure.toStdString();
    EXPECT_EQ(adapter.byId, "usb-Maker_Adapter_A1-if00-port0");
    EXPECT_EQ(adapter.driver, "ftdi_sio");
    EXPECT_EQ(adapter.usbId, "0403:6001");
    EXPECT_EQ(adapter.usbName, "Maker Adapter");
    EXPECT_EQ(adapter.latencyTimerMs, 16);
    EXPECT_EQ(report.rows[1].state, PortState::Busy);
    EXPECT_EQ(report.rows[1].cause, "порт занят: minicom (процесс 777)");
    EXPECT_EQ(report.rows[1].driver, "cdc_acm");
    EXPECT_EQ(report.rows[1].usbId, "2341:");
    EXPECT_EQ(report.rows[2].port, 5);
    EXPECT_EQ(report.rows[2].state, PortState::Missing);
    EXPECT_TRUE(report.rows[2].cause.contains("brltty"));
    EXPECT_EQ(report.rows[3].state, PortState::NotSerial);
    EXPECT_EQ(report.notes.size(), 1);
    EXPECT_TRUE(FormatSurveyText(report).contains("  что сделать: " + adapter.cure + "\n"));

    // Added to the group after logging in: only a new login helps.
    user.accountGroups.push_back(getgid());
    report = SurveyPorts(ports, roots, user);
    EXPECT_EQ(report.rows[0].state, PortState::NewLoginNeeded);
}

} // namespace
