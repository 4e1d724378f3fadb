#pragma once

// The list behind "Последние архивы": at most RecentArchiveLimit archive files, newest first,
// kept in the settings file's section [Recent] as File1 (newest) ... File10. Each path is stored
// percent-encoded UTF-8, so any path the system can name reads back exactly and no path can
// change another key of the settings file.

#include <QStringList>

class SettingsFile;

constexpr int RecentArchiveLimit = 10;

// The list as the settings hold it, without entries whose file no longer exists.
QStringList ReadRecentArchives(const SettingsFile& settings);

// Puts path first (removing an earlier entry for the same file), drops entries whose file is
// gone and keeps at most RecentArchiveLimit; the settings are changed in memory only.
void AddRecentArchive(SettingsFile& settings, const QString& path);
