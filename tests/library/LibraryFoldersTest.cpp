// The library in folders it cannot write, through the real program: it lists what it can and
// names the folder as the cause of what it cannot do.

#include "ProgramRun.h"
#include "SimulatedVisit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

using Answer = ProgramRun;

class LibraryFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        data_ = dir_.filePath(QStringLiteral("data"));
        program_ = qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000");
    }

    void TearDown() override {
        // Write permissions given back, so that the folder can be removed.
        for (const QString& folder : readOnly_)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Runs the program; with readOnlyFolder set, that folder cannot be written while it runs.
    // The superuser writes any folder whatever its permissions: for it the folder is mounted
    // read-only in a mount namespace of the program's own (skipped where none can be made). With
    // full set, the folder is instead a file system of 120 KB, its files copied in: nothing of
    // the size of an archive fits; with filled set too, it is of 4 MB (the folder's files fit)
    // and not a byte is left on it.
    Answer Kv9000(const QStringList& args, const QString& readOnlyFolder = {}, bool full = false,
                  bool filled = false) {
        QProcessEnvironment env = ProgramEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data_);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        QString program = program_;
        QStringList arguments = args;
        if (!readOnlyFolder.isEmpty()) {
#ifndef Q_OS_WIN
            if (::geteuid() == 0) {
                program = QStringLiteral("unshare");
                arguments =
                    QStringList{
                        QStringLiteral("-m"),
                        QStringLiteral("sh"),
                        QStringLiteral("-c"),
                        full
                            ? QStringLiteral("cp -a \"$0\" \"$0.all\" && mount -t tmpfs -o "
                                             "size=%1 none \"$0\" && cp -a \"$0.all/.\" "
                                             "\"$0\" && ")
                                      .arg(filled ? QStringLiteral("4m") : QStringLiteral("120k")) +
                                  (filled ? QStringLiteral("{ dd if=/dev/zero of=\"$0/.fill\" "
                                                           "bs=4k 2>/dev/null; true; } && ")
                                          : QString()) +
                                  QStringLiteral("exec \"$@\"")
                            : QStringLiteral("mount --bind \"$0\" \"$0\" && mount -o "
                                             "remount,bind,ro \"$0\" && exec \"$@\""),
                        readOnlyFolder,
                        program_} +
                    args;
            } else if (full) {
                return {-2, {}, QStringLiteral("only the superuser mounts a small file system")};
            } else
#endif
            {
                readOnly_ << readOnlyFolder;
                QFile::setPermissions(readOnlyFolder, QFile::ReadOwner | QFile::ExeOwner);
            }
        }
        Answer run = RunProgram(arguments, env, program);
        if (!readOnlyFolder.isEmpty() && !readOnly_.contains(readOnlyFolder) &&
            run.err.contains(QStringLiteral("mount")))
            run.exitCode = -2; // no namespace here
        return run;
    }

    QString Keep(const SimulatedVisit& visit, const QString& folder) {
        QString error;
        const QString path = KeepSimulatedVisit(visit, folder, error);
        EXPECT_FALSE(path.isEmpty()) << error.toStdString();
        return path;
    }

    QTemporaryDir dir_;
    QString data_, program_;
    QStringList readOnly_;
};

TEST_F(LibraryFoldersTest, AReadOnlyDataFolderWithASoundIndexIsListedAndWritesAreRefused) {
    const QString incoming = dir_.filePath(QStringLiteral("incoming"));
    Keep({.serial = 101, .at = QStringLiteral("2024-01-26T09:00")}, incoming);
    ASSERT_EQ(Kv9000({QStringLiteral("--library-import"), incoming}).exitCode, 0);
    const Answer before = Kv9000({QStringLiteral("--library")});
    ASSERT_EQ(before.exitCode, 0) << before.err.toStdString();
    Keep({.serial = 202, .at = QStringLiteral("2024-02-26T09:00")}, incoming);

    const QString folder = data_ + QStringLiteral("/kv9000");
    const Answer list = Kv9000({QStringLiteral("--library")}, folder);
    if (list.exitCode == -2)
        GTEST_SKIP() << "no mount namespace for a read-only folder: " << list.err.toStdString();
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_EQ(list.out, before.out);
    EXPECT_FALSE(list.err.contains(QStringLiteral("повреждён"))) << list.err.toStdString();

    const Answer import = Kv9000({QStringLiteral("--library-import"), incoming}, folder);
    EXPECT_EQ(import.exitCode, 1);
    EXPECT_TRUE(import.err.contains(QStringLiteral("только для чтения")))
        << import.err.toStdString();
    EXPECT_FALSE(import.err.contains(QStringLiteral("повреждён"))) << import.err.toStdString();
}

TEST_F(LibraryFoldersTest, AReadOnlyOrFullArchivesFolderIsNamedAsTheCauseOfAFailedSync) {
    const QString archives = data_ + QStringLiteral("/kv9000/archives");
    Keep({.at = QStringLiteral("2024-01-26T09:00")}, archives);
    ASSERT_EQ(Kv9000({QStringLiteral("--library")}).exitCode, 0);
    // The server is never reached: the archives folder is found unwritable first.
    program_ = dir_.filePath(QStringLiteral("bin/kv9000"));
    ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("bin"))));
    ASSERT_TRUE(
        QFile::copy(qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000"), program_));
    QFile ini(dir_.filePath(QStringLiteral("bin/kv9000.INI")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(
        ("[Library]\r\nServer=host=" + dir_.filePath(QStringLiteral("nowhere")) + "\r\n").toUtf8());
    ini.close();

    const Answer sync = Kv9000({QStringLiteral("--library-sync")}, archives);
    if (sync.exitCode == -2)
        GTEST_SKIP() << "no mount namespace for a read-only folder: " << sync.err.toStdString();
    EXPECT_EQ(sync.exitCode, 1);
    EXPECT_FALSE(sync.err.contains(QStringLiteral("уже идёт"))) << sync.err.toStdString();
    EXPECT_TRUE(sync.err.contains(QStringLiteral("недоступна для записи")))
        << sync.err.toStdString();

    // On a full disk its lock cannot be written either: that is said as the full disk.
    const Answer full = Kv9000({QStringLiteral("--library-sync")}, archives, true, true);
    if (full.exitCode == -2)
        GTEST_SKIP() << "no small file system here: " << full.err.toStdString();
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_FALSE(full.err.contains(QStringLiteral("уже идёт"))) << full.err.toStdString();
    EXPECT_TRUE(full.err.contains(QStringLiteral("диск заполнен"))) << full.err.toStdString();
}

TEST_F(LibraryFoldersTest, AFullDiskIsNamedAsTheCauseOfAFailedImport) {
    const QString incoming = dir_.filePath(QStringLiteral("incoming"));
    Keep({.serial = 101, .at = QStringLiteral("2024-01-26T09:00")}, incoming);
    ASSERT_EQ(Kv9000({QStringLiteral("--library")}).exitCode, 0);
    const QString folder = data_ + QStringLiteral("/kv9000");
    const Answer import = Kv9000({QStringLiteral("--library-import"), incoming}, folder, true);
    if (import.exitCode == -2)
        GTEST_SKIP() << "no small file system here: " << import.err.toStdString();
    EXPECT_EQ(import.exitCode, 1);
    EXPECT_TRUE(import.err.contains(QStringLiteral("диск заполнен"))) << import.err.toStdString();
}

// A sound index on a disk without a byte free cannot open its write-ahead log (SQLite says "disk
// I/O error"): the disk is named, not the index called damaged; with room again it lists.
TEST_F(LibraryFoldersTest, ASoundIndexOnAFullDiskIsNotCalledDamaged) {
    const QString incoming = dir_.filePath(QStringLiteral("incoming"));
    Keep({.serial = 101, .at = QStringLiteral("2024-01-26T09:00")}, incoming);
    ASSERT_EQ(Kv9000({QStringLiteral("--library-import"), incoming}).exitCode, 0);
    const QString folder = data_ + QStringLiteral("/kv9000");
    const Answer list = Kv9000({QStringLiteral("--library")}, folder, true, true);
    if (list.exitCode == -2)
        GTEST_SKIP() << "no small file system here: " << list.err.toStdString();
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_FALSE(list.err.contains(QStringLiteral("повреждён"))) << list.err.toStdString();
    EXPECT_TRUE(list.err.contains(QStringLiteral("диск заполнен"))) << list.err.toStdString();
    const Answer again = Kv9000({QStringLiteral("--library")});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains(QStringLiteral("\n101\t"))) << again.out.toStdString();
}

} // namespace
