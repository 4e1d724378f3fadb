// The session core without a window: the geometry set in one place as the controller is found
// and files are shown, which identity a kept download gets (the moved-cable rule), the automatic
// file name with its collision rule, where the controller's other files are, and the journal entry
// of an identity change.

#include "ServiceSession.h"

#include "Cp1251.h"
#include "TestQtApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ServiceSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQtCoreApp(); }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        session_ = std::make_unique<ServiceSession>(dir_.filePath("archives"));
        QObject::connect(session_.get(), &ServiceSession::SaveFinished,
                         [this](const QString& path, const QString& error) {
                             saved_ << path;
                             errors_ << error;
                         });
    }

    // A controller with two channels whose read delivered serial 12345 and its texts.
    void FindController(int channels = 2) {
        session_->SetController(channels);
        IdentityReadResult read;
        read.serial = 12345;
        read.address = 1;
        read.comment = ToCp1251(QStringLiteral("Котельная"));
        session_->SetIdentityRead(read, QStringLiteral("Лорк КB-9000Л-2К вер. 1.07"));
    }

    ServiceSession::KeptDownload Keep(const ControllerOnLine& onLine,
                                      const QDateTime& at = {QDate(2026, 12, 8), QTime(10, 0)}) {
        auto kept = session_->KeepDownload(QByteArray(ArchiveSize, '\x5A'), "COM3", onLine, at);
        session_->WaitForSaves();
        QCoreApplication::sendPostedEvents(session_.get(), QEvent::MetaCall);
        return kept;
    }

    static ControllerOnLine Answered(std::uint16_t serial, const char* identification) {
        return {serial, ToCp1251(QString::fromUtf8(identification))};
    }

    QTemporaryDir dir_;
    std::unique_ptr<ServiceSession> session_;
    QStringList saved_;
    QStringList errors_;
};

} // namespace

TEST_F(ServiceSessionTest, GeometryFollowsTheControllerAndTheFileShown) {
    EXPECT_EQ(session_->ChannelCount(), 0);
    EXPECT_EQ(session_->Geometry().recordCount, 0);
    FindController(2);
    EXPECT_EQ(session_->Geometry().recordCount, 4220);

    ArchiveFileContents file;
    file.channelCount = 1;
    file.image = QByteArray(ArchiveSize, '\0');
    session_->ShowFile(file, "/x/one.kvarc");
    EXPECT_TRUE(session_->FileViewShown());
    EXPECT_EQ(session_->ChannelCount(), 1);
    EXPECT_EQ(session_->Geometry().recordCount, 8444);
    // A controller found behind the file view does not change what is shown.
    session_->SetController(2);
    EXPECT_EQ(session_->Geometry().recordCount, 8444);
    EXPECT_EQ(session_->ControllerChannels(), 2);

    session_->LeaveFileView();
    EXPECT_FALSE(session_->FileViewShown());
    EXPECT_EQ(session_->Geometry().channelBlockSize, 0x21000);
    session_->CloseShown();
    EXPECT_EQ(session_->Shown(), nullptr);
}

TEST_F(ServiceSessionTest, DownloadIsKeptUnderTheControllerThatAnsweredAfterIt) {
    FindController();
    // The same controller: kept with the identity as read, comment and address included.
    auto kept = Keep(Answered(12345, "Лорк КB-9000Л-2К вер. 1.07"));
    EXPECT_FALSE(kept.anotherController);
    EXPECT_EQ(kept.contents.serial, std::optional<std::uint16_t>(12345));
    EXPECT_EQ(kept.contents.comment, "Котельная");
    EXPECT_EQ(kept.contents.address, std::optional<std::uint8_t>(1));

    // No answer after the download: as shown.
    kept = Keep({});
    EXPECT_FALSE(kept.anotherController);
    EXPECT_EQ(kept.contents.serial, std::optional<std::uint16_t>(12345));

    // Another serial number: kept under it, its unasked comment and address unknown.
    kept = Keep(Answered(777, "Лорк КB-9000Л-2К вер. 1.07"));
    EXPECT_TRUE(kept.anotherController);
    EXPECT_EQ(kept.contents.serial, std::optional<std::uint16_t>(777));
    EXPECT_EQ(kept.contents.comment, "");
    EXPECT_FALSE(kept.contents.address);
    ASSERT_EQ(saved_.size(), 3);
    EXPECT_TRUE(saved_[2].contains("/archives/777/")) << saved_[2].toStdString();

    // Only the identification differs (a replaced controller given the same number).
    kept = Keep(Answered(12345, "Лорк КB-9000Л вер. 1.08"));
    EXPECT_TRUE(kept.anotherController);
    EXPECT_EQ(kept.contents.identification, "Лорк КB-9000Л вер. 1.08");

    // The identity as read is not changed by what the check found.
    EXPECT_EQ(session_->LastRead().serial, std::optional<std::uint16_t>(12345));
    EXPECT_EQ(session_->Shown()->identification, "Лорк КB-9000Л вер. 1.08");
}

TEST_F(ServiceSessionTest, DownloadsOfOneSecondGetNumberedNamesAndNoneIsReplaced) {
    FindController();
    const QDateTime at(QDate(2026, 12, 8), QTime(10, 0, 5));
    const ControllerOnLine same = Answered(12345, "Лорк КB-9000Л-2К вер. 1.07");
    Keep(same, at);
    Keep(same, at);
    Keep(same, at);
    // Without a serial number the folder says so.
    session_->SetIdentityRead({}, QString());
    Keep({}, at);
    ASSERT_EQ(saved_.size(), 4);
    EXPECT_EQ(errors_, QStringList({"", "", "", ""}));
    const QString folder = dir_.filePath("archives/12345/");
    EXPECT_EQ(saved_[0], folder + "2026-12-08_10-00-05.kvarc");
    EXPECT_EQ(saved_[1], folder + "2026-12-08_10-00-05_2.kvarc");
    EXPECT_EQ(saved_[2], folder + "2026-12-08_10-00-05_3.kvarc");
    EXPECT_EQ(saved_[3], dir_.filePath("archives/unknown-serial/2026-12-08_10-00-05.kvarc"));
    for (const QString& path : saved_)
        EXPECT_TRUE(QFileInfo(path).isFile()) << path.toStdString();
}

TEST_F(ServiceSessionTest, AFailedSaveIsReported) {
    FindController();
    // The archives folder cannot be made: a file stands in its place.
    QFile blocker(dir_.filePath("archives"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Keep({});
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_FALSE(errors_[0].isEmpty());
    // What failed to be written is still shown, and no file is named as its own.
    ASSERT_NE(session_->Shown(), nullptr);
    EXPECT_EQ(session_->KeptPath(), QString());
}

TEST_F(ServiceSessionTest, KeptPathNamesTheFileOfTheDownloadShownOnceItIsWritten) {
    FindController();
    const ControllerOnLine same = Answered(12345, "Лорк КB-9000Л-2К вер. 1.07");
    Keep(same);
    ASSERT_EQ(saved_.size(), 1);
    EXPECT_EQ(session_->KeptPath(), saved_[0]);

    // A write still under way names nothing; when it ends, its file.
    session_->KeepDownload(QByteArray(ArchiveSize, '\x5A'), "COM3", same, {});
    EXPECT_EQ(session_->KeptPath(), QString());
    session_->WaitForSaves();
    QCoreApplication::sendPostedEvents(session_.get(), QEvent::MetaCall);
    ASSERT_EQ(saved_.size(), 2);
    EXPECT_EQ(session_->KeptPath(), saved_[1]);

    // A file opened before the download's write ended: the file is shown, not the download.
    session_->KeepDownload(QByteArray(ArchiveSize, '\x5A'), "COM3", same, {});
    ArchiveFileContents file;
    file.channelCount = 2;
    file.image = QByteArray(ArchiveSize, '\0');
    session_->ShowFile(file, dir_.filePath("elsewhere/one.kvarc"));
    session_->WaitForSaves();
    QCoreApplication::sendPostedEvents(session_.get(), QEvent::MetaCall);
    ASSERT_EQ(saved_.size(), 3);
    EXPECT_EQ(session_->KeptPath(), QString());
    Keep(same);
    session_->CloseShown();
    EXPECT_EQ(session_->KeptPath(), QString());
}

TEST_F(ServiceSessionTest, JournalEntryTakesTheIdentityAsReadAndTheSteps) {
    FindController();
    IdentityChange change;
    change.address = 2;
    change.serial = 12346;
    change.comment = ToCp1251(QStringLiteral("Дом"));
    IdentityWriteSteps steps;
    steps.address = IdentityStep::Written;
    steps.serial = IdentityStep::Failed;
    const QDateTime when(QDate(2026, 12, 8), QTime(11, 0));
    IdentityJournalEntry entry = session_->JournalEntry(change, &steps, "RX Error", "COM1", when);
    EXPECT_EQ(entry.before.serial, std::optional<std::uint16_t>(12345));
    EXPECT_EQ(entry.before.comment, std::optional<QString>("Котельная"));
    EXPECT_EQ(entry.after.comment, std::optional<QString>("Дом"));
    EXPECT_EQ(entry.addressStep, "written");
    EXPECT_EQ(entry.serialStep, "RX Error");
    EXPECT_EQ(entry.commentStep, "not tried");
    entry = session_->JournalEntry(change, nullptr, {}, "COM1", when);
    EXPECT_EQ(entry.addressStep, "refused");
    EXPECT_EQ(entry.commentStep, "refused");
}

TEST_F(ServiceSessionTest, ControllerFolderIsBesideTheFileShownOrAmongTheKeptDownloads) {
    EXPECT_EQ(session_->ControllerFolder(), QString()); // nothing shown
    FindController();
    Keep(Answered(12345, "Лорк КB-9000Л-2К вер. 1.07"));
    EXPECT_EQ(session_->ControllerFolder(), dir_.filePath("archives/12345"));
    // The folder follows the controller that delivered what is shown.
    Keep(Answered(777, "Лорк КB-9000Л-2К вер. 1.07"));
    EXPECT_EQ(session_->ControllerFolder(), dir_.filePath("archives/777"));
    session_->SetIdentityRead({}, QString());
    Keep({});
    EXPECT_EQ(session_->ControllerFolder(), dir_.filePath("archives/unknown-serial"));

    // A file shown: its own folder, wherever it is and whoever's it is.
    ArchiveFileContents file;
    file.channelCount = 2;
    file.serial = 12345;
    file.image = QByteArray(ArchiveSize, '\0');
    session_->ShowFile(file, dir_.filePath("elsewhere/2024-01-31_08-15-00.kvarc"));
    EXPECT_EQ(session_->ControllerFolder(), dir_.filePath("elsewhere"));
    session_->CloseShown();
    EXPECT_EQ(session_->ControllerFolder(), QString());
}
