#pragma once

#include "ExportError.h"
#include "TextExport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Files written by the text export in a folder of their own, shared by the portable tests
// and the POSIX one that limits the file size.
inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

inline QString ErrorOf(const QString& path, const QByteArray& bytes) {
    try {
        WriteTextFile(path, bytes);
    } catch (const ExportError& e) {
        return e.Text();
    }
    return QStringLiteral("<no error>");
}

class TextFileWriteTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
    QStringList Entries() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};
