#pragma once

// The name "Сохранить архив как…" proposes for the archive shown.

#include <QString>

struct ArchiveFileContents;

// In folder (the archive folder): the shown file's own name with the extension .kvarc
// ("dump.bin" gives "dump.kvarc"); for a download not yet opened from a file, the name of its
// automatic save (<YYYY-MM-DD_HH-MM-SS>.kvarc). Never a hidden name such as ".kvarc".
QString ProposedArchiveSavePath(const QString& folder, const ArchiveFileContents& shown,
                                const QString& shownPath);
