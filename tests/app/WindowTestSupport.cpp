#include "WindowTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

void EnsureWidgetApp() {
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "kv9000-test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

WindowTestBed::WindowTestBed() : dialogs_(std::make_shared<ScriptedDialogs>()) {
    EnsureWidgetApp();
    // Kept archives, the journal and logs go to this folder, never to the user's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(Path(QStringLiteral("data"))));
    qputenv("XDG_STATE_HOME", QFile::encodeName(Path(QStringLiteral("state"))));
}

WindowTestBed::~WindowTestBed() = default;

void WindowTestBed::WriteSettings(const QString& text) const {
    QFile file(SettingsPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(ToCp1251(text));
}

QByteArray WindowTestBed::ReadSettingsBytes() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString WindowTestBed::ReadSettings() const {
    return FromCp1251(ReadSettingsBytes());
}

std::unique_ptr<SimProcess> WindowTestBed::StartSim(QStringList args, const QString& tag) const {
    args << QStringLiteral("--log") << Path(tag + QStringLiteral(".log"))
         << QStringLiteral("--state-file") << Path(tag + QStringLiteral(".json"));
    return std::make_unique<SimProcess>(args);
}

QString WindowTestBed::PortsSection(const std::map<int, QString>& ports) {
    QString text = QStringLiteral("[Ports]\n");
    for (const auto& [n, device] : ports)
        text += QStringLiteral("COM%1=%2\n").arg(n).arg(device);
    return text;
}

std::unique_ptr<TMainForm> WindowTestBed::OpenWindow() {
    MainFormOptions options;
    options.settingsPath = SettingsPath();
    options.dialogs = dialogs_;
    // No real serial device of the machine is ever touched: only mapped ports exist.
    options.systemDevices = [] { return QStringList(); };
    options.transport = line_;
    return std::make_unique<TMainForm>(options);
}

QJsonObject WindowTestBed::SimState(const QString& tag) const {
    QFile file(Path(tag + QStringLiteral(".json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}
