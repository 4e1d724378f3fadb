#include "TextFileWriteTest.h"

#include <csignal>
#include <sys/resource.h>

// POSIX only: a file-size limit is how a test makes a write fail part-way on Linux.

TEST_F(TextFileWriteTest, FailedWriteLeavesTheEarlierFileWhole) {
    const QString path = Path("archive.txt");
    const QByteArray earlier = "earlier content\r\n";
    WriteAll(path, earlier);

    // A file-size limit makes the write fail part-way, as a full disk would, and binds root too.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString error = ErrorOf(path, QByteArray(256 * 1024, 'y'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(ReadAll(path), earlier);
    EXPECT_EQ(Entries(), QStringList{"archive.txt"}); // no temporary file left behind
}
