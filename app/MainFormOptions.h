#pragma once

// What the start-up gives the main window.

#include "LinkTransport.h"
#include "PortMap.h"
#include "UserDialogs.h"

#include <QString>

#include <memory>

// What the start-up gives the window. The program leaves them all empty.
struct MainFormOptions {
    QString settingsPath;                 // empty: the program's own settings file
    std::shared_ptr<UserDialogs> dialogs; // null: the real Qt dialogs
    // An archive file to show at start (the command line's FILE). The window shows it before
    // looking for the controller, which is then looked for once the window runs.
    QString archivePath = {};
    // Which machine devices unmapped "COM<n>" numbers get (empty: the machine's own), and how
    // the window's link makes its stream (empty: the program's own): tests give a lister that
    // lists nothing, so that no real device is touched, and lines that fail on demand.
    PortMap::DeviceLister systemDevices = {};
    LinkTransportFactory transport = {};
};
