// Archive files as the window keeps and shows them, against kv9000-sim: a download saved
// automatically and shown again later gives the same text export; bad files change nothing; a
// file's identity is never written into a controller; every press of "Изменить" is journalled.

#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "ServiceSession.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "TextGrid.h"
#include "UserFolders.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList SavedArchives() {
    QStringList found;
    for (QDirIterator it(ArchivesFolder(), {"*.kvarc"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        found << it.next();
    return found;
}

QStringList JournalLines() {
    return QString::fromUtf8(ReadFile(IdentityJournalPath())).split('\n', Qt::SkipEmptyParts);
}

class ArchiveFileWindowTest : public ::testing::TestWithParam<int> {
protected:
    std::unique_ptr<TMainForm> OpenOnSim(int channels) {
        WriteFile(bed_.Path("served.bin"), testimage::FullImage(channels));
        sim_ = bed_.StartSim(
            {"--channels", QString::number(channels), "--image", bed_.Path("served.bin")});
        bed_.WriteSettings("[General]\nCOM port=1\n" +
                           WindowTestBed::PortsSection({{1, sim_->Device()}}));
        auto form = bed_.OpenWindow();
        EXPECT_EQ(form->Session().ChannelCount(), channels);
        return form;
    }

    static QAction* FileAction(const TMainForm& form, const QString& text) {
        for (QAction* action : form.FileMenu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    QByteArray TextExport(TMainForm& form, const QString& name) {
        bed_.Dialogs().saveAnswers.push_back(bed_.Path(name));
        form.btSaveToTxt->click();
        return ReadFile(bed_.Path(name));
    }

    WindowTestBed bed_;
    std::unique_ptr<SimProcess> sim_;
};

} // namespace

// The demo: download, close, start again, pick the archive from "Последние архивы", export.
TEST_P(ArchiveFileWindowTest, SavedDownloadPickedFromRecentExportsTheSameText) {
    const int channels = GetParam();
    QByteArray afterDownload;
    {
        auto form = OpenOnSim(channels);
        QSignalSpy shown(form.get(), &TMainForm::ArchiveShown);
        form->bt_DF_Read->click();
        form->WaitForArchiveSaves();
        EXPECT_EQ(shown.count(), 1);
        afterDownload = TextExport(*form, "after-download.txt");
    } // closed: the settings keep the recent list
    sim_->Stop();
    ASSERT_EQ(SavedArchives().size(), 1);
    EXPECT_TRUE(SavedArchives()[0].contains("/archives/12345/"));

    bed_.WriteSettings(bed_.ReadSettings().replace("COM port=1", "COM port=0"));
    auto form = bed_.OpenWindow(); // no controller
    bed_.Dialogs().messages.clear();
    QMenu* recent = form->FileMenu->findChild<QMenu*>();
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    ASSERT_EQ(recent->actions().size(), 1);
    recent->actions()[0]->trigger();
    ASSERT_NE(form->ShownArchive(), nullptr);
    EXPECT_EQ(form->ShownArchivePath(), SavedArchives()[0]);
    EXPECT_TRUE(form->windowTitle().endsWith(QFileInfo(SavedArchives()[0]).fileName()));
    EXPECT_EQ(TextExport(*form, "from-file.txt"), afterDownload);
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}

INSTANTIATE_TEST_SUITE_P(OneAndTwoChannels, ArchiveFileWindowTest, ::testing::Values(1, 2));

TEST_F(ArchiveFileWindowTest, BadFileGivesOneMessageAndChangesNothing) {
    ArchiveFileContents good;
    good.channelCount = 2;
    good.downloadedAt = QDateTime::currentDateTime();
    good.image = testimage::FullImage(2);
    const QByteArray file = EncodeArchiveFile(good);
    QByteArray damaged = file;
    damaged[1000] = static_cast<char>(damaged[1000] ^ 1);
    QByteArray newer = file;
    newer[8] = 4; // formats 2 and 3 are known (a raw image kept without its download time; a
                  // read of only what changed)
    QByteArray wrongSignature = file;
    wrongSignature[0] = 'X';
    QByteArray unflaggedSerial = file; // serial unknown, yet its field is not 0
    unflaggedSerial[12] = 1;
    QDir(bed_.Path("")).mkdir("folder.kvarc");
    const struct {
        const char* name;
        QByteArray bytes;
        const char* cause;
    } cases[] = {
        {"empty.kvarc", "", "файл пуст"},
        {"truncated.kvarc", file.left(file.size() - 1), "файл обрезан"},
        {"signature.kvarc", wrongSignature, "не файл архива"},
        {"checksum.kvarc", damaged, "контрольная сумма"},
        {"newer.kvarc", newer, "более новой версией"},
        {"serial.kvarc", unflaggedSerial, "без признака"},
        {"folder.kvarc", {}, "это папка"},
        {"large.kvarc", QByteArray(ArchiveFileSizeLimit + 1, 0), "слишком велик"},
        {"image.bin", QByteArray(0x42000 - 1, 0), "не образ памяти"},
    };
    auto form = bed_.OpenWindow();
    form->Grid(0).SetCell(3, 5, "21,5");
    form->edComment->setText("Котельная");
    const QString title = form->windowTitle();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = bed_.Path(c.name);
        if (!QFileInfo(path).isDir())
            WriteFile(path, c.bytes);
        bed_.Dialogs().messages.clear();
        EXPECT_FALSE(form->OpenArchiveFile(path));
        ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
        EXPECT_TRUE(bed_.Dialogs().messages[0].text.contains(path));
        EXPECT_TRUE(bed_.Dialogs().messages[0].text.contains(QString::fromUtf8(c.cause)))
            << bed_.Dialogs().messages[0].text.toStdString();
        EXPECT_EQ(form->Grid(0).Cell(3, 5), "21,5");
        EXPECT_EQ(form->edComment->text(), "Котельная");
        EXPECT_EQ(form->windowTitle(), title);
        EXPECT_EQ(form->ShownArchive(), nullptr);
    }
}

// A successful change, a press refused while a file is shown, and a change on a lost line.
TEST_F(ArchiveFileWindowTest, EveryChangeIsJournalledAndAFileIsNeverWritten) {
    auto form = OpenOnSim(2);
    form->edComment->setText("Щитовая");
    form->btWriteInfo->click();

    ArchiveFileContents other;
    other.channelCount = 1;
    other.serial = 999;
    other.comment = "Чужой";
    other.downloadedAt = QDateTime::currentDateTime();
    other.image = testimage::FullImage(1);
    ASSERT_EQ(WriteArchiveFile(bed_.Path("other.kvarc"), other), "");
    ASSERT_TRUE(form->OpenArchiveFile(bed_.Path("other.kvarc")));
    bed_.Dialogs().messages.clear();
    form->btWriteInfo->click();
    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_TRUE(bed_.Dialogs().messages[0].text.contains("other.kvarc"));

    // Back to the controller; then the line is lost before the next change.
    form->bt_DF_Read->click();
    EXPECT_EQ(form->ShownArchivePath(), "");
    EXPECT_EQ(form->edComment->text(), "Щитовая");
    sim_->Stop();
    int writes = 0;
    for (const QJsonObject& o : ReadSimLog(bed_.Path("sim.log")))
        if (o["dir"].toString() == "rx" && QList<int>{4, 8, 10}.contains(o["command"].toInt()))
            ++writes;
    EXPECT_EQ(writes, 3); // the first change only
    bed_.Dialogs().messages.clear();
    form->btWriteInfo->click();
    EXPECT_EQ(bed_.Dialogs().MessageTexts()[0], "TX Error");

    const QStringList lines = JournalLines();
    ASSERT_EQ(lines.size(), 3);
    const QStringList ok = lines[0].split('\t');
    ASSERT_EQ(ok.size(), 8);
    EXPECT_TRUE(QDateTime::fromString(ok[0], Qt::ISODate).isValid()) << ok[0].toStdString();
    EXPECT_EQ(ok.mid(2),
              (QStringList{"port=COM1", "before serial=12345 address=1 comment=\"Котельная\"",
                           "after serial=12345 address=1 comment=\"Щитовая\"", "address=written",
                           "serial=written", "comment=written"}));
    EXPECT_TRUE(lines[1].endsWith("address=refused\tserial=refused\tcomment=refused"));
    EXPECT_TRUE(lines[2].endsWith("address=TX Error\tserial=not tried\tcomment=not tried"));
}

// The cable moved to another controller between the identity read and the download: the file is
// kept under the controller that delivered the archive, the window says so above the status bar,
// and the panels the exports read stay as they were.
TEST_F(ArchiveFileWindowTest, DownloadFromAMovedCableIsKeptUnderTheControllerThatAnswered) {
    WriteFile(bed_.Path("served.bin"), testimage::FullImage(2));
    sim_ = bed_.StartSim({"--image", bed_.Path("served.bin"), "--then-serial", "777", "--then-id",
                          "Лорк КB-9000Л-2К вер. 2.00"});
    bed_.WriteSettings("[General]\nCOM port=1\n" +
                       WindowTestBed::PortsSection({{1, sim_->Device()}}));
    auto form = bed_.OpenWindow();
    ASSERT_EQ(form->speSerial->value(), 12345);
    const QString panel1 = form->StatusText(1);

    form->bt_DF_Read->click();
    form->WaitForArchiveSaves();
    ASSERT_EQ(SavedArchives().size(), 1);
    EXPECT_TRUE(SavedArchives()[0].contains("/archives/777/")) << SavedArchives()[0].toStdString();
    const ArchiveFileReadResult kept = ReadArchiveFile(SavedArchives()[0]);
    ASSERT_TRUE(kept.contents);
    EXPECT_EQ(kept.contents->serial, std::optional<std::uint16_t>(777));
    EXPECT_EQ(kept.contents->identification, "Лорк КB-9000Л-2К вер. 2.00");
    EXPECT_TRUE(form->StatusBar->Notice().contains("другой регулятор"));
    EXPECT_EQ(form->StatusText(1), panel1);
    EXPECT_EQ(form->speSerial->value(), 12345);
}

// The same controller after the download: kept under its own identity, no notice.
TEST_F(ArchiveFileWindowTest, DownloadFromTheSameControllerGivesNoNotice) {
    auto form = OpenOnSim(1);
    form->bt_DF_Read->click();
    form->WaitForArchiveSaves();
    ASSERT_EQ(SavedArchives().size(), 1);
    EXPECT_TRUE(SavedArchives()[0].contains("/archives/12345/"));
    EXPECT_EQ(form->StatusBar->Notice(), "");
}

// A raw image shown from a file: "Сохранить архив как…" proposes its own name in the archive
// folder each time (never ".kvarc", never the last path chosen) and keeps its download time
// unknown; "Закрыть архив" empties the grids as at start and shows the controller as last read.
TEST_F(ArchiveFileWindowTest, RawImageSavedUnderItsOwnNameThenClosedBackToTheController) {
    auto form = OpenOnSim(2);
    const QString title = form->windowTitle();
    const QString heading = form->Grid(0).Cell(0, 0);
    WriteFile(bed_.Path("dump.bin"), testimage::FullImage(1));
    ASSERT_TRUE(form->OpenArchiveFile(bed_.Path("dump.bin")));
    ASSERT_NE(form->Grid(0).Cell(0, 1), "");
    EXPECT_EQ(form->Session().ChannelCount(), 1);

    const QString proposed = QDir(ArchivesFolder()).filePath("dump.kvarc");
    QAction* saveAs = FileAction(*form, "&Сохранить архив как…");
    QAction* close = FileAction(*form, "&Закрыть архив");
    ASSERT_NE(saveAs, nullptr);
    ASSERT_NE(close, nullptr);
    bed_.Dialogs().saveAnswers.push_back(bed_.Path("kept.kvarc"));
    saveAs->trigger();
    bed_.Dialogs().saveAnswers.push_back(std::nullopt);
    saveAs->trigger();
    ASSERT_EQ(bed_.Dialogs().saves.size(), 2u);
    EXPECT_EQ(bed_.Dialogs().saves[0].FileName, proposed);
    EXPECT_EQ(bed_.Dialogs().saves[1].FileName, proposed);
    const ArchiveFileReadResult kept = ReadArchiveFile(bed_.Path("kept.kvarc"));
    ASSERT_TRUE(kept.contents) << kept.error.toStdString();
    EXPECT_FALSE(kept.rawImage);
    EXPECT_FALSE(kept.contents->downloadedAt.isValid()); // not 1970-01-01

    ASSERT_TRUE(close->isEnabled());
    close->trigger();
    EXPECT_EQ(form->ShownArchive(), nullptr);
    EXPECT_FALSE(close->isEnabled());
    EXPECT_EQ(form->Grid(0).Cell(0, 0), heading);
    for (int grid = 0; grid < 4; ++grid)
        EXPECT_EQ(form->Grid(grid).Cell(0, 1), "") << grid;
    EXPECT_EQ(form->Session().ChannelCount(), 2);
    EXPECT_EQ(form->speSerial->value(), 12345);
    EXPECT_EQ(form->edComment->text(), "Котельная");
    EXPECT_EQ(form->windowTitle(), title);
    EXPECT_EQ(form->StatusText(0), "COM1");
}

// A pipe or a device given as the archive (e.g. the port's device by mistake) is refused at
// once with one message, like any other bad file.
TEST_F(ArchiveFileWindowTest, PipeOrDeviceGivesOneMessageWithoutWaiting) {
    const QString fifo = bed_.Path("trap.kvarc");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto form = bed_.OpenWindow();
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
        bed_.Dialogs().messages.clear();
        EXPECT_FALSE(form->OpenArchiveFile(path));
        ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
        EXPECT_TRUE(bed_.Dialogs().messages[0].text.contains("не обычный файл"));
    }
}
