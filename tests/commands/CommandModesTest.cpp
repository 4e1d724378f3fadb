// The command-line modes through the real program without a display: one mode per line (every
// other line a one-line usage error, exit 2, before anything is touched), the visit report that
// never replaces an archive, and answers that hold only the program's own lines, one line per
// path.

#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "ProgramRun.h"
#include "TestQtApp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class CommandModesTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtCoreApp();
        ASSERT_TRUE(dir_.isValid());
        environment_ = ProgramEnvironment();
        environment_.insert(QStringLiteral("XDG_DATA_HOME"), Path(QStringLiteral("data")));
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
        // Qt warns about it when it starts a platform: only the program's lines may show.
        environment_.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    ProgramRun Run(const QStringList& arguments) {
        return RunProgram(arguments, environment_, {}, dir_.path());
    }

    // A two-channel archive file kept by the test.
    QString WriteArchive(const QString& name) {
        ArchiveFileContents contents;
        contents.channelCount = 2;
        contents.serial = 4321;
        contents.downloadedAt = QDateTime(QDate(2024, 2, 1), QTime(9, 0), Qt::LocalTime);
        contents.image = testimage::FullImage(2);
        const QString path = Path(name);
        EXPECT_EQ(WriteArchiveFile(path, contents), QString());
        return path;
    }

    QTemporaryDir dir_;
    QProcessEnvironment environment_;
};

TEST_F(CommandModesTest, EveryLineWithTwoModesOrAMissingOrEmptyValueIsAUsageError) {
    const QStringList lines[] = {
        {"--library-import"},
        {"--library-import", ""},
        {"--findings", ""},
        {"--report", "", "-o", "x.pdf"},
        {"--report", "a.kvarc", "-o", ""},
        {"--report", "a.kvarc"},
        {"-o", "x.pdf"},
        {"--findings", "a.kvarc", "--report", "b.kvarc", "-o", "x.pdf"},
        {"--findings", "a.kvarc", "--findings", "b.kvarc"},
        {"--library-sync", "--library"},
        {"--reindex", "--library-import", "f.kvarc"},
        {"--library", "f.kvarc"},
        {"--findings", "a.kvarc", "b.kvarc"},
        {"--diagnose", "--library"},
        {"--diagnose", "f.kvarc"},
        {"--read", "COM1", "--diagnose"},
        {"--read", "COM1", "--findings", "a.kvarc"},
        {"--read", "COM1", "f.kvarc"},
        {"--read"},
        {"--read", ""},
        {"--read", "/dev/ttyS0"},
        {"--read", "COM0"},
        {"--read", "COM1", "--address", "0"},
        {"--read", "COM1", "--address", "128"},
        {"--read", "COM1", "--address", "x"},
        {"--address", "5"},
        {"--new"},
        {"--new", "--library"},
        {"--check-calc", "--library"},
        {"--due", "--library"},
        {"--due", "f.kvarc"},
        {"--due", "--at", "2024-13-01"},
        {"--due", "--at", "1.5.2024"},
        {"--at", "2024-05-01"},
        {"--image", "a.kvarc"},
        {"--image", "a.kvarc", "-o", ""},
        {"--image", "a.kvarc", "-o", "b.bin", "--due"},
        {"--team"},
        {"--collect", "f.tsv", "--team"},
        {"--fleet-pull", "--collect", "--team"},
        {"--collect", "--team", "f.tsv"},
        {"--fleet-push"},
        {"--fleet-push", ""},
        {"--fleet-pull", "f.tsv"},
        {"--fleet-pull", "--jobs", "2"},
    };
    for (const QStringList& line : lines) {
        SCOPED_TRACE(line.join(QStringLiteral(" | ")).toStdString());
        const ProgramRun run = Run(line);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("kv9000: "))) << run.err.toStdString();
        EXPECT_TRUE(run.err.endsWith(QStringLiteral(" Подробнее: kv9000 --help\n")))
            << run.err.toStdString();
    }
    // Nothing was written: no report, no library, no data folder.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(CommandModesTest, TheReportNeverReplacesItsArchiveOrAKeptOne) {
    const QString archive = WriteArchive(QStringLiteral("visit.kvarc"));
    const QByteArray before = ReadAll(archive);
    ASSERT_FALSE(before.isEmpty());
    ASSERT_TRUE(QFile::link(archive, Path(QStringLiteral("symbolic.pdf"))));
    ASSERT_EQ(::link(QFile::encodeName(archive).constData(),
                     QFile::encodeName(Path(QStringLiteral("hard.pdf"))).constData()),
              0);
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("sub"))));
    const QString keptFolder = Path(QStringLiteral("data/kv9000/archives/4321"));
    for (const QString& output :
         {archive, QStringLiteral("visit.kvarc"), Path(QStringLiteral("sub/../visit.kvarc")),
          Path(QStringLiteral("symbolic.pdf")), Path(QStringLiteral("hard.pdf")),
          keptFolder + QStringLiteral("/2024-02-01_09-00-00.kvarc"),
          keptFolder + QStringLiteral("/../4321/other.KVARC")}) {
        SCOPED_TRACE(output.toStdString());
        const ProgramRun run =
            Run({QStringLiteral("--report"), archive, QStringLiteral("-o"), output});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("kv9000: "))) << run.err.toStdString();
    }
    EXPECT_EQ(ReadAll(archive), before);
    EXPECT_EQ(ReadAll(Path(QStringLiteral("hard.pdf"))), before);
    EXPECT_FALSE(QFileInfo::exists(keptFolder));
}

TEST_F(CommandModesTest, AnswersHoldOnlyTheProgramsOwnLinesAndOneLinePerPath) {
    const QString archive = WriteArchive(QStringLiteral("visit.kvarc"));
    // A report name with a line break: written under that name, printed on one line.
    const QString pdf = Path(QStringLiteral("отчёт\nвторая строка.pdf"));
    const ProgramRun report = Run({QStringLiteral("--report"), archive, QStringLiteral("-o"), pdf});
    EXPECT_EQ(report.exitCode, 0) << report.err.toStdString();
    EXPECT_EQ(report.err, QString()); // no "XDG_RUNTIME_DIR not set" of Qt's
    EXPECT_EQ(report.out, QString(pdf).replace(u'\n', QStringLiteral("\\n")) + u'\n');
    EXPECT_TRUE(QFileInfo::exists(pdf));

    // A cause naming such a file is one line too.
    const QString missing = Path(QStringLiteral("нет\nтакого.kvarc"));
    const ProgramRun findings = Run({QStringLiteral("--findings"), missing});
    EXPECT_EQ(findings.exitCode, 1);
    EXPECT_EQ(findings.out, QString());
    EXPECT_EQ(findings.err.count(u'\n'), 1) << findings.err.toStdString();
    EXPECT_TRUE(findings.err.contains(QString(missing).replace(u'\n', QStringLiteral("\\n"))))
        << findings.err.toStdString();

    // A team sync cut off before it begins (nothing listens there): the program's causes only,
    // each on one line (libpq's cause has line breaks), none of Qt's database warnings.
    QDir().mkpath(Path(QStringLiteral("bin")));
    const QString program = Path(QStringLiteral("bin/kv9000"));
    ASSERT_TRUE(
        QFile::copy(qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000"), program));
    QFile ini(Path(QStringLiteral("bin/kv9000.INI")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Library]\r\nServer=host=127.0.0.1 port=1 dbname=kv9000 connect_timeout=2\r\n");
    ini.close();
    const ProgramRun sync =
        RunProgram({QStringLiteral("--library-sync")}, environment_, program, dir_.path());
    EXPECT_EQ(sync.exitCode, 1);
    for (const QString& line : sync.err.split(u'\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith(QStringLiteral("kv9000: "))) << sync.err.toStdString();
    // Qt's own warnings stay off; the driver's words inside the program's cause are its own.
    EXPECT_FALSE(sync.err.contains(QStringLiteral("QSqlQuery"))) << sync.err.toStdString();
}

// --image gives the whole image of a file of any format version, checked: a damaged file and an
// output that would replace the archive itself are refused, with one line, and nothing written.
TEST_F(CommandModesTest, ImageWritesTheWholeImageOfAFileOfAnyVersion) {
    const QString plain = WriteArchive(QStringLiteral("plain.kvarc"));
    ArchiveFileContents contents = *DecodeArchiveFile(ReadAll(plain)).contents;
    const QByteArray compressed = EncodeCompressedArchiveFile(contents);
    QByteArray damaged = compressed;
    damaged[damaged.size() - 5000] = static_cast<char>(damaged[damaged.size() - 5000] ^ 0x01);
    for (const auto& [name, bytes] : {std::pair{"kept.kvarc", compressed},
                                      {"damaged.kvarc", damaged},
                                      {"raw.bin", contents.image}}) {
        QFile file(Path(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    for (const char* source : {"plain.kvarc", "kept.kvarc", "raw.bin"}) {
        SCOPED_TRACE(source);
        const QString output = Path(QStringLiteral("out-") + QString::fromLatin1(source));
        const ProgramRun run = Run(
            {QStringLiteral("--image"), QString::fromLatin1(source), QStringLiteral("-o"), output});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out + run.err, QString());
        EXPECT_EQ(ReadAll(output), testimage::FullImage(2));
    }
    // The refusal names what would happen: the image replacing the archive, not a report.
    for (const auto& [source, output, cause] :
         {std::tuple{"damaged.kvarc", "out-damaged.bin", ""},
          {"plain.kvarc", "plain.kvarc", "файл образа — это сам архив"}}) {
        SCOPED_TRACE(source);
        const QByteArray before = ReadAll(Path(QString::fromLatin1(output)));
        const ProgramRun run = Run({QStringLiteral("--image"), QString::fromLatin1(source),
                                    QStringLiteral("-o"), QString::fromLatin1(output)});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("kv9000: "))) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(cause))) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("отчёт"))) << run.err.toStdString();
        EXPECT_EQ(ReadAll(Path(QString::fromLatin1(output))), before);
    }
}

} // namespace
