#pragma once

// The archives a visit report is made of: the archive file shown and the previous kept file of
// the same controller (the chart window's previous-visit lookup, PreviousArchiveFile, in the
// folder of the controller's files), with the reason when that one is not compared.

#include "ArchiveFile.h"
#include "Findings.h"

#include <QString>
#include <QStringList>

#include <optional>

struct VisitArchives {
    ArchiveFileContents current;
    QString path; // the archive file; empty for a download that was not kept
    std::optional<ArchiveFileContents> previous; // set only when it is compared
    QString previousPath;                        // the previous kept file, compared or not
    QString previousNote; // why there is no comparison ("прошлых посещений нет", another
                          // controller, another channel count, unreadable); empty when compared
};

// The previous visit of current, looked up in folder (where the controller's archive files are
// kept) before path (or before current's download time when path is empty).
void FindPreviousVisit(VisitArchives& visit, const QString& folder);

struct VisitArchivesRead {
    std::optional<VisitArchives> visit; // set on success
    QString error; // on failure: why the file was not read ("файл пуст", ...)
};

// Reads the archive file at path and its previous visit from the same folder. A previous visit
// that cannot be compared is no failure: its note says why.
VisitArchivesRead ReadVisitArchives(const QString& path);

// What the findings are computed from: the archive, its download time, and the previous visit's
// image when it is compared.
FindingsInput FindingsInputOf(const VisitArchives& visit, const QStringList& settingsHeadings);
