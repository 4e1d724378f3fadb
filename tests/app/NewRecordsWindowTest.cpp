// The window's two reads of the archive on a port on the network (kv9000-sim over TCP on the
// loopback address): the whole read and the read of only the new records (whole when nothing is
// kept yet) keep their files under the same port text, the one that names the box.

#include "ArchiveFile.h"
#include "ServiceSession.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QPushButton>

#include <gtest/gtest.h>

TEST(NewRecordsWindowTest, BothReadsKeepThePortUnderTheSameTextThatNamesTheBox) {
    WindowTestBed bed;
    int port = 0;
    const auto sim = StartSimFleet(1, {"--serial", "4321", "--at", "2025-01-01T09:00"}, port);
    ASSERT_TRUE(sim->Running());
    bed.WriteSettings("[General]\nCOM port=1\n" +
                      WindowTestBed::PortsSection({{1, sim->Device()}}));
    const auto form = bed.OpenWindow();
    ASSERT_EQ(form->Session().ChannelCount(), 2);
    const auto keptFile = [&form] {
        form->WaitForArchiveSaves();
        const ArchiveFileReadResult read = ReadArchiveFile(form->Session().KeptPath());
        EXPECT_TRUE(read.contents) << read.error.toStdString();
        return read.contents.value_or(ArchiveFileContents{});
    };

    QAction* newRecords = form->findChild<QAction*>(QStringLiteral("NewRecordsAction"));
    ASSERT_NE(newRecords, nullptr);
    newRecords->trigger(); // nothing kept yet: the whole archive is read
    const ArchiveFileContents first = keptFile();
    EXPECT_FALSE(first.blocksRead);

    form->bt_DF_Read->click();
    const ArchiveFileContents whole = keptFile();
    EXPECT_FALSE(whole.blocksRead);
    EXPECT_TRUE(whole.image == first.image);

    newRecords->trigger();
    const ArchiveFileContents onlyNew = keptFile();
    ASSERT_TRUE(onlyNew.blocksRead); // the controller's memory did not change: only new ones
    EXPECT_LT(*onlyNew.blocksRead, 8448);
    EXPECT_TRUE(onlyNew.image == whole.image);

    EXPECT_TRUE(bed.Dialogs().messages.empty());
    EXPECT_EQ(first.port, whole.port);
    EXPECT_EQ(onlyNew.port, whole.port);
    EXPECT_TRUE(whole.port.startsWith(QStringLiteral("COM1"))) << whole.port.toStdString();
    EXPECT_TRUE(whole.port.contains(sim->Device())) << whole.port.toStdString();
}
