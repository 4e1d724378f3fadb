#pragma once

// What the window tests share: a QApplication, a settings folder of their own, the simulator as
// a mapped COM port, and a window built on them with scripted dialogs.

#include "Cp1251.h"
#include "MainForm.h"
#include "ScriptedDialogs.h"
#include "SimProcess.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <memory>

// Creates the QApplication on first use; it lives until the test program ends.
void EnsureWidgetApp();

// A folder for one test: the settings file, the simulator's log and state file, and the user's
// data and state folders (XDG_DATA_HOME, XDG_STATE_HOME point into it while it lives).
class WindowTestBed {
public:
    WindowTestBed();
    ~WindowTestBed();

    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString SettingsPath() const { return Path(QStringLiteral("kv9000.INI")); }

    // Writes the settings file (the text is stored as Windows-1251).
    void WriteSettings(const QString& text) const;
    QString ReadSettings() const;
    QByteArray ReadSettingsBytes() const;

    // Starts a simulator with --log and --state-file in this folder (file names by tag).
    std::unique_ptr<SimProcess> StartSim(QStringList args, const QString& tag = "sim") const;
    // "[Ports]" lines for the settings file: COMn=device.
    static QString PortsSection(const std::map<int, QString>& ports);

    // A window on the settings file with scripted dialogs.
    // The window on this bed's settings, with no real serial device of the machine (only the
    // mapped ports exist) and its link on the bed's line (UseLine) if one is given.
    std::unique_ptr<TMainForm> OpenWindow();
    // The line windows opened from now on speak through; empty: the port itself.
    void UseLine(LinkTransportFactory line) { line_ = std::move(line); }
    ScriptedDialogs& Dialogs() { return *dialogs_; }

    // The simulator's state file, as written at its last change.
    QJsonObject SimState(const QString& tag = "sim") const;

private:
    QTemporaryDir dir_;
    std::shared_ptr<ScriptedDialogs> dialogs_;
    LinkTransportFactory line_;
};
