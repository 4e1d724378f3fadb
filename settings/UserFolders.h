#pragma once

// The one place that knows where the program keeps its files under the user's folders: the XDG
// base directories, and on Windows the local application data folder (%LOCALAPPDATA%\kv9000,
// with the logs in its "logs" folder). Every path is absolute; nothing here creates a folder.
//
// An XDG variable that is unset, empty or not an absolute path counts as unset, and the folder
// under the home directory is used instead.

#include <QString>

// $XDG_DATA_HOME/kv9000 (~/.local/share/kv9000): kept archives and the journal of identity
// changes.
QString DataFolder();

// DataFolder()/archives: one folder per serial number with the archive files saved after each
// download.
QString ArchivesFolder();

// DataFolder()/identity-changes.log: one line per press of "Изменить".
QString IdentityJournalPath();

// DataFolder()/library.sqlite: the index over the kept archives, one history per controller.
QString LibraryIndexPath();

// $XDG_STATE_HOME/kv9000 (~/.local/state/kv9000): logs of what the program did.
QString StateFolder();

// The fleet list a nightly collection and the library window read: $XDG_CONFIG_HOME/kv9000/
// fleet.tsv (~/.config/kv9000/fleet.tsv); on Windows beside the program's other files,
// %LOCALAPPDATA%\kv9000\fleet.tsv.
QString FleetListPath();
