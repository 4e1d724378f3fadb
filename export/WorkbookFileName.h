#pragma once

// The name of a workbook file as the workbook library wants it on this platform.

#include <QByteArray>
#include <QString>

// POSIX: the file system's encoding of path. Windows: UTF-8, which the library turns into the
// wide name it opens the file by.
QByteArray WorkbookFileName(const QString& path);
