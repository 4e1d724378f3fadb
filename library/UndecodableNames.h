#pragma once

// File names that the system holds as bytes which are not UTF-8 (a folder copied from an old
// system in another code page). Qt cannot name such a file and leaves it out of every listing,
// so a folder of archives would lose it without a word; the library refuses it with its cause.

#include <QStringList>

// The *.kvarc files below folder (and in its subfolders) whose names are not UTF-8, each as its
// folder's path and its name with every byte that is not UTF-8 written as \xHH. Empty on a system
// whose file names are always Unicode (Windows).
QStringList UndecodableArchiveNamesBelow(const QString& folder);
