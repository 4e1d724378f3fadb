// Prints what the library of every visit costs, with archives of the simulator's seeded
// histories (full two-channel archives unless said):
//   index   - 1,000 archives (50 controllers visited every month for 20 months) indexed from
//             nothing (target <= 30 s);
//   add     - one more download added to that index (target <= 50 ms), and one imported from
//             outside the archives folder, the whole index checked first (target <= 1 s);
//   window  - the library window shown with 500 controllers and 6,000 visits (12 each), from its
//             creation to its first paint (target <= 100 ms); its visits hold 48 records per
//             channel, as the window reads no records;
//   history - "История" pressed in the library window on a controller with a five-year history
//             (60 monthly visits): read from the index and drawn in a new chart window, until
//             it is painted (target <= 300 ms);
//   sync    - 100 downloads sent to a PostgreSQL on this machine (target <= 15 s); only with a
//             libpq connection string in KV_TEST_POSTGRES (tools/test-postgres.sh starts one).
// Run offscreen (QT_QPA_PLATFORM=offscreen) or under Xvfb.
//
//   bench_library [index|add|window|history|sync ...]   (all when none is named)

#include "ArchiveFile.h"
#include "ChartWindow.h"
#include "LibraryIndex.h"
#include "LibraryWindow.h"
#include "SimHistory.h"
#include "TeamSync.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kRecordsPerChannel = 4220; // two channels
constexpr int kChannelBlock = 0x21000;

// A kept download of controller serial at the moment at, under folder.
QString Keep(const QString& folder, int serial, const QDateTime& at, int keepRecords = -1) {
    ArchiveFileContents c;
    c.channelCount = 2;
    c.serial = static_cast<std::uint16_t>(serial);
    c.address = 1;
    c.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    c.comment = QStringLiteral("Объект %1").arg(serial);
    c.port = QStringLiteral("COM1");
    c.downloadedAt = QDateTime(at.date(), at.time(), Qt::OffsetFromUTC, 0);
    c.image = sim::HistoryArchiveAt(2, static_cast<std::uint32_t>(serial), at);
    if (keepRecords >= 0) { // all but the newest few records erased
        const qint64 written = sim::HistoryStart().secsTo(at) / sim::kHistoryLogInterval + 1;
        const int writePos = static_cast<int>(written % kRecordsPerChannel);
        for (int ch = 0; ch < 2; ++ch)
            for (int k = 0; k < kRecordsPerChannel; ++k)
                if ((writePos - k + kRecordsPerChannel) % kRecordsPerChannel > keepRecords)
                    std::memset(c.image.data() + ch * kChannelBlock + k * 32, 0xFF, 32);
    }
    const QString path = AutoSavePath(folder, c);
    if (const QString error = WriteArchiveFile(path, c); !error.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return path;
}

QDateTime Month(int n) {
    return QDateTime(QDate(2021, 1, 10).addMonths(n), QTime(9, 0), Qt::UTC);
}

void Print(const char* what, double ms, double target, const QString& note = {}) {
    std::printf("%s: %.1f ms (target <= %.0f ms)%s%s\n", what, ms, target,
                note.isEmpty() ? "" : "; ", qPrintable(note));
    std::fflush(stdout);
}

void BenchIndexAndAdd(const QString& root, bool add) {
    const QString archives = root + QStringLiteral("/index/archives");
    for (int serial = 1; serial <= 50; ++serial)
        for (int m = 0; m < 20; ++m)
            Keep(archives, serial, Month(m));
    LibraryIndex index;
    QElapsedTimer t;
    t.start();
    if (const QString e = index.Open(root + QStringLiteral("/index/library.sqlite")); !e.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(e));
    const IndexReport report = index.CatchUp(archives);
    Print("index 1000 archives", static_cast<double>(t.elapsed()), 30000,
          QStringLiteral("%1 added, %2 refused, index %3 MB")
              .arg(report.added)
              .arg(report.refused.size())
              .arg(QFileInfo(root + QStringLiteral("/index/library.sqlite")).size() / 1e6, 0, 'f',
                   0));
    if (!add)
        return;
    for (int serial : {7, 8, 9}) {
        const QString file = Keep(archives, serial, Month(20));
        t.restart();
        const AddResult r = index.AddFile(file);
        Print("add one download", static_cast<double>(t.nsecsElapsed()) / 1e6, 50,
              r.outcome == AddOutcome::Added ? QString() : r.error);
    }
    // An import reads every page of the index before it copies anything (a damaged index is
    // refused first): one download imported from outside the archives folder.
    const QString outside = Keep(root + QStringLiteral("/index/usb-stick"), 10, Month(20));
    t.restart();
    const IndexReport imported = index.Import({outside}, archives);
    Print("import one download", static_cast<double>(t.nsecsElapsed()) / 1e6, 1000,
          imported.added == 1 ? QString() : QStringLiteral("not added"));
}

void BenchWindow(const QString& root) {
    const QString indexPath = root + QStringLiteral("/window/library.sqlite");
    const QString scratch = root + QStringLiteral("/window/scratch");
    {
        LibraryIndex index;
        index.Open(indexPath);
        for (int serial = 1; serial <= 500; ++serial)
            for (int m = 0; m < 12; ++m) {
                const QString file = Keep(scratch, serial, Month(m), 48);
                index.AddFile(file);
                QFile::remove(file);
            }
    }
    LibraryWindowOptions options;
    options.indexPath = indexPath;
    options.archivesFolder = scratch;
    // The library window is opened from the main window, which has shown its tables by then:
    // the toolkit's first drawing of a table is not the library's cost.
    QStandardItemModel cells(20, 6);
    cells.setItem(0, 0, new QStandardItem(QStringLiteral("Тпод")));
    QTableView mainWindowGrid;
    mainWindowGrid.setModel(&cells);
    mainWindowGrid.show();
    QApplication::processEvents();
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        LibraryWindow window(options);
        window.show();
        window.Controllers()->setCurrentIndex(window.Controllers()->model()->index(0, 0));
        window.repaint();
        QApplication::processEvents();
        Print("library window, 500 controllers / 6000 visits", static_cast<double>(t.elapsed()),
              100,
              QStringLiteral("%1 rows, %2 visits of the first")
                  .arg(window.Controllers()->model()->rowCount())
                  .arg(window.Visits()->model()->rowCount()));
    }
}

void BenchHistory(const QString& root) {
    const QString archives = root + QStringLiteral("/history/archives");
    const QString indexPath = root + QStringLiteral("/history/library.sqlite");
    {
        LibraryIndex index;
        index.Open(indexPath);
        for (int m = 0; m < 60; ++m)
            index.AddFile(Keep(archives, 4242, Month(m)));
    }
    // As the user does it: the library window is open on the controller, "История" is pressed.
    LibraryWindowOptions options;
    options.indexPath = indexPath;
    options.archivesFolder = archives;
    LibraryWindow library(options);
    library.show();
    library.Controllers()->setCurrentIndex(library.Controllers()->model()->index(0, 0));
    QApplication::processEvents();
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        library.ShowHistory();
        ChartWindow* chart = library.HistoryWindow();
        if (!chart)
            return;
        chart->repaint();
        QApplication::processEvents();
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        // The reading alone, for the figure's split.
        LibraryIndex index;
        index.Open(indexPath);
        t.restart();
        const std::vector<ChannelSeries> series = index.History(4242);
        const double read = static_cast<double>(t.nsecsElapsed()) / 1e6;
        Print("five-year history into the chart", ms, 300,
              QStringLiteral("%1 points a channel; reading the index alone takes %2 ms")
                  .arg(series.empty() ? 0 : series[0].time.size())
                  .arg(read, 0, 'f', 1));
    }
}

void BenchSync(const QString& root) {
    const QString server = qEnvironmentVariable("KV_TEST_POSTGRES");
    if (server.isEmpty()) {
        std::printf("sync: skipped (no KV_TEST_POSTGRES)\n");
        return;
    }
    const QString database = QStringLiteral("bench_%1").arg(QCoreApplication::applicationPid());
    {
        QSqlDatabase admin =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("a"));
        admin.setConnectOptions(server);
        admin.open();
        QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE ") + database);
        admin.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("a"));
    const QString archives = root + QStringLiteral("/sync/archives");
    LibraryIndex index;
    index.Open(root + QStringLiteral("/sync/library.sqlite"));
    for (int serial = 1; serial <= 10; ++serial)
        for (int m = 0; m < 10; ++m)
            index.AddFile(Keep(archives, serial, Month(m)));
    QElapsedTimer t;
    t.start();
    const SyncReport report =
        SyncWithServer(index, archives, server + QStringLiteral(" dbname=") + database);
    Print("sync 100 downloads up", static_cast<double>(t.elapsed()), 15000,
          FormatSyncReport(report).replace(u'\n', QStringLiteral("; ")));

    LibraryIndex other;
    other.Open(root + QStringLiteral("/sync2/library.sqlite"));
    t.restart();
    const SyncReport down = SyncWithServer(other, root + QStringLiteral("/sync2/archives"),
                                           server + QStringLiteral(" dbname=") + database);
    Print("sync 100 downloads down", static_cast<double>(t.elapsed()), 15000,
          FormatSyncReport(down).replace(u'\n', QStringLiteral("; ")));
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    if (wanted.isEmpty())
        wanted = {"index", "add", "window", "history", "sync"};
    QTemporaryDir dir;
    if (wanted.contains(QStringLiteral("index")) || wanted.contains(QStringLiteral("add")))
        BenchIndexAndAdd(dir.path(), wanted.contains(QStringLiteral("add")));
    if (wanted.contains(QStringLiteral("window")))
        BenchWindow(dir.path());
    if (wanted.contains(QStringLiteral("history")))
        BenchHistory(dir.path());
    if (wanted.contains(QStringLiteral("sync")))
        BenchSync(dir.path());
    return 0;
}
