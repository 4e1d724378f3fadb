// The library as the main window uses it, against kv9000-sim: a kept download is indexed off the
// window's thread, Ctrl+L shows it, and a double click on the visit opens its file.

#include "ArchiveFile.h"
#include "LibraryIndex.h"
#include "LibraryWindow.h"
#include "StatusPanels.h"
#include "UserFolders.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The visits the index holds for serial, waiting up to 30 s for the window's worker.
int IndexedVisits(int serial) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 30000) {
        LibraryIndex index;
        if (index.Open(LibraryIndexPath()).isEmpty()) {
            const auto visits = index.Visits(serial);
            if (!visits.empty())
                return static_cast<int>(visits.size());
        }
        QTest::qWait(100);
    }
    return 0;
}

TEST(LibraryAppTest, AKeptDownloadIsIndexedAndOpensFromTheLibraryWindow) {
    WindowTestBed bed;
    auto sim = bed.StartSim({"--at", "2024-01-26T09:00", "--serial", "555"});
    ASSERT_TRUE(sim->Running());
    bed.WriteSettings("[General]\nCOM port=1\n" +
                      WindowTestBed::PortsSection({{1, sim->Device()}}));
    auto form = bed.OpenWindow();
    form->bt_DF_Read->click();
    form->WaitForArchiveSaves();
    ASSERT_EQ(IndexedVisits(555), 1);

    QAction* open = nullptr;
    for (QAction* a : form->FileMenu->actions())
        if (a->text() == QStringLiteral("&Библиотека архивов"))
            open = a;
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    open->trigger();
    auto* library = form->findChild<LibraryWindow*>();
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->isVisible());
    if (library->Working()) {
        QSignalSpy done(library, &LibraryWindow::WorkDone);
        ASSERT_TRUE(done.wait(30000));
    }
    ASSERT_EQ(library->Controllers()->model()->rowCount(), 1);
    EXPECT_EQ(library->Controllers()->model()->index(0, 0).data().toString(),
              QStringLiteral("555"));
    // No server is set: nothing about one is shown.
    for (QPushButton* b : library->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("Синхронизировать")) {
            EXPECT_FALSE(b->isVisible());
        }
    }

    library->Controllers()->setCurrentIndex(library->Controllers()->model()->index(0, 0));
    QTableView* visits = library->Visits();
    ASSERT_EQ(visits->model()->rowCount(), 1);
    const QPoint at = visits->visualRect(visits->model()->index(0, 0)).center();
    QTest::mouseClick(visits->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(visits->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(form->windowTitle().contains(QStringLiteral(".kvarc")))
        << form->windowTitle().toStdString();
    ASSERT_NE(form->ShownArchive(), nullptr);
    EXPECT_EQ(form->ShownArchive()->serial, 555);
}

// The quiet sync after a kept download fails (the server is down): the status bar says so, once.
TEST(LibraryAppTest, AFailedSyncAfterADownloadIsShownInTheStatusBar) {
    WindowTestBed bed;
    auto sim = bed.StartSim({"--at", "2024-01-26T09:00", "--serial", "556"});
    ASSERT_TRUE(sim->Running());
    bed.WriteSettings("[General]\nCOM port=1\n" +
                      WindowTestBed::PortsSection({{1, sim->Device()}}) +
                      "[Library]\nServer=host=" + bed.Path(QStringLiteral("nowhere")) + "\n");
    auto form = bed.OpenWindow();
    QStringList shown;
    QElapsedTimer t;
    t.start();
    form->bt_DF_Read->click();
    form->WaitForArchiveSaves();
    ASSERT_EQ(IndexedVisits(556), 1); // the file itself is indexed
    while (t.elapsed() < 30000 && shown.isEmpty()) {
        QTest::qWait(50);
        if (!form->StatusBar->Notice().isEmpty())
            shown << form->StatusBar->Notice();
    }
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(QStringLiteral("Синхронизация с сервером не завершена: "
                                                   "сервер недоступен")))
        << shown[0].toStdString();
}

} // namespace
