#pragma once

// The command-line answers of the findings and the visit report. Neither needs a display:
// --findings needs no application object at all, --report an offscreen one (its charts are the
// chart window's widgets).

#include <QString>
#include <QStringList>

struct CommandAnswer {
    int exitCode = 0;
    QString output; // for standard output
    QString errors; // for standard error
};

// kv9000 --findings FILE: the findings of the archive file (compared with the previous kept file
// of the same controller in its folder) as tab-separated text, exit 0; a file that cannot be read,
// or an archive the findings cannot judge, gives "kv9000: FILE: cause" on standard error and
// exit 1.
CommandAnswer FindingsCommand(const QString& path, const QStringList& settingsHeadings);

// kv9000 --report FILE -o REPORT.pdf: writes the visit report, exit 0 with the PDF's path on
// standard output; an unreadable archive or an unwritable folder gives the cause on standard
// error and exit 1. Needs a QApplication (an offscreen one will do), on its thread.
CommandAnswer ReportCommand(const QString& path, const QString& pdfPath,
                            const QStringList& settingsHeadings, const QString& journalPath);
