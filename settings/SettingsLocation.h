#pragma once

// Where the settings file lives. Its name is the executable's name with ".INI" (kv9000.INI).
//
// An installed program (a build with KV_INSTALLED_LAYOUT, as the Debian package is) keeps it
// always in the user's configuration folder, $XDG_CONFIG_HOME/kv9000/kv9000.INI, also when it
// runs as root: a file beside the executable is then never read or written.
//
// The portable build keeps it beside the executable. When that place cannot be written (the
// folder of a program installed without KV_INSTALLED_LAYOUT, or a read-only file there), the file
// lives in the user's configuration folder, $XDG_CONFIG_HOME/kv9000/kv9000.INI
// (~/.config/kv9000/kv9000.INI when XDG_CONFIG_HOME is not set): it is read from there when it
// exists there, otherwise from beside the executable (so that a file shipped with the program
// still gives the first settings), and it is always written there.

#include <QString>

struct SettingsLocation {
    QString readPath;
    QString writePath;
};

// The rule above as a pure function: beside is the path beside the executable, userPath the one
// in the configuration folder.
SettingsLocation ChooseSettingsLocation(const QString& beside, bool besideWritable,
                                        const QString& userPath, bool userFileExists);

// True when a file at path can be created or replaced: its folder is writable and the file
// either does not exist or is writable.
bool CanReplaceFile(const QString& path);

// True in a build for installation (KV_INSTALLED_LAYOUT).
bool InstalledLayout();

// The rule applied to the running program.
SettingsLocation ProgramSettingsLocation();
