#pragma once

// Opening a file for reading only when it is a regular file, without ever waiting: a named pipe
// or a device given as a file (a slip for the port's name) would block the open or the read.

#include <QFile>
#include <QString>

// Opens path into file for reading when what is opened is a regular file. Returns an empty text
// on success; notRegular when it is not a regular file; otherwise "файл не читается: <cause>".
QString OpenRegularFile(const QString& path, QFile& file, const QString& notRegular);
