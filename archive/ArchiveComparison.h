#pragma once

// Which archives belong together: the words that name the controller an archive file came from,
// whether two archives can be drawn or reported side by side, and which kept file is the
// previous visit of the same controller. Over the archive file's contents as they are read.

#include "ArchiveFile.h"

#include <QDateTime>
#include <QString>

// The controller an archive came from, in words for a title: "<identification>, серийный номер
// <n>", or what is known of it (the name of its file at path; "регулятор неизвестен" when
// nothing is known). Only the identity of archive is used, never its image.
QString DescribeController(const ArchiveFileContents& archive, const QString& path);

// Why other cannot be drawn beside shown, in words for the user; empty when it can. An archive
// of another channel count, or with another serial number, is of another controller; a serial
// number that one of them does not know refuses nothing.
QString ComparisonRefusal(const ArchiveFileContents& shown, const ArchiveFileContents& other);

// The archive file offered first for a comparison with the archive shown: among the archive
// files (*.kvarc) of folder, whose names begin with their download's local time
// (2024-01-31_08-15-00.kvarc), the last one in name order before shownPath's file name, or before
// shownDownloadedAt when shownPath is empty; the newest when neither is known. Empty when there is
// none (or folder is empty or missing).
QString PreviousArchiveFile(const QString& folder, const QString& shownPath,
                            const QDateTime& shownDownloadedAt);
