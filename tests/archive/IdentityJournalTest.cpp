// The journal of identity changes on a disk that fills up: a line is there whole or not at all.

#include "IdentityJournal.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// While it lives, no file of this process may grow past `bytes` (a full disk on demand); a write
// across the limit is cut there and fails, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN); // the failed write returns an error instead
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
};

TEST(IdentityJournal, ALineThatDoesNotFitIsNotLeftHalfWrittenAndTheFailureIsSaid) {
    QTemporaryDir dir;
    const QString path = dir.filePath("journal/identity-changes.log");
    ASSERT_EQ(AppendJournalLine(path, "first line"), "");
    const QByteArray before = ReadBytes(path);
    ASSERT_EQ(before, "first line\n");

    const QString longLine(200, QLatin1Char('x'));
    {
        const FileSizeLimit full(static_cast<rlim_t>(before.size() + 50));
        EXPECT_NE(AppendJournalLine(path, longLine), "");
    }
    EXPECT_EQ(ReadBytes(path), before);

    // With room again the next line starts on a line of its own.
    ASSERT_EQ(AppendJournalLine(path, "third line"), "");
    EXPECT_EQ(ReadBytes(path), "first line\nthird line\n");
}

} // namespace
