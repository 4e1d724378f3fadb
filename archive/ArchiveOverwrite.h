#pragma once

// Whether a file the program is asked to write (the visit report's PDF, from the command line or
// the window's save dialog; the raw image of kv9000 --image) would destroy an archive: the archive
// it is made from, reached by any path (another spelling, a symbolic link, a hard link), or any
// kept archive file (.kvarc in the archives folder, whose index would then point at something
// else).

#include <QString>

// What the output is, as the refusal names it.
enum class ArchiveOutput { Report, Image };

// The cause of the refusal in plain Russian words, or an empty text when output may be written.
// source: the archive file the output is made from (empty: none); archivesFolder: where kept
// downloads live. output need not exist; its folder need not exist either.
QString ArchiveOverwriteRefusal(const QString& output, const QString& source,
                                const QString& archivesFolder,
                                ArchiveOutput kind = ArchiveOutput::Report);
