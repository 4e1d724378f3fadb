// "Файл" → "Отчёт о посещении…" on an opened archive file: the PDF written and handed to the
// desktop's viewer, or one message naming a folder that cannot be written.

#include "WindowTestSupport.h"

#include "ArchiveFile.h"
#include "SimArchive.h"
#include "SimPlantedFaults.h"
#include "XlsxWorkbookApp.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

class ReportWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureWidgetApp();
        SetWorkbookOpener([this](const QString& path) {
            opened_ << path;
            return true;
        });
        QByteArray image = sim::GenerateArchive(2, 11, true);
        sim::PlantedFault relay;
        relay.kind = sim::PlantedKind::RelayCycle;
        relay.channel = 2;
        relay.start = QDateTime(QDate(2023, 11, 20), QTime(6, 0), Qt::UTC);
        relay.hours = 30;
        relay.relay = 3;
        sim::PlantFaults(image, 2, {relay});
        ArchiveFileContents contents;
        contents.channelCount = 2;
        contents.serial = 815;
        contents.downloadedAt = QDateTime(QDate(2024, 1, 9), QTime(10, 0), Qt::LocalTime);
        contents.image = image;
        path_ = bed_.Path(QStringLiteral("815/2024-01-09_10-00-00.kvarc"));
        ASSERT_EQ(WriteArchiveFile(path_, contents), QString());
    }
    void TearDown() override { SetWorkbookOpener({}); }

    static void Report(TMainForm& form) {
        for (QAction* a : form.findChildren<QAction*>())
            if (a->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_R))
                return a->trigger();
        FAIL() << "no Ctrl+R action";
    }

    WindowTestBed bed_;
    QString path_;
    QStringList opened_;
};

TEST_F(ReportWindowTest, TheReportOfTheFileShownIsWrittenAndOpened) {
    auto form = bed_.OpenWindow();
    ASSERT_TRUE(form->OpenArchiveFile(path_));
    bed_.Dialogs().messages.clear(); // no controller on the line
    const QString pdf = bed_.Path(QStringLiteral("отчёт.pdf"));
    bed_.Dialogs().saveAnswers.push_back(pdf);
    Report(*form);
    ASSERT_EQ(bed_.Dialogs().saves.size(), 1u);
    EXPECT_TRUE(bed_.Dialogs().saves[0].FileName.endsWith(
        QStringLiteral("815/2024-01-09_10-00-00_отчёт.pdf")))
        << bed_.Dialogs().saves[0].FileName.toStdString();
    EXPECT_TRUE(bed_.Dialogs().messages.empty()) << bed_.Dialogs().messages[0].text.toStdString();
    EXPECT_EQ(opened_, QStringList{pdf});
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    text.waitForFinished(30000);
    const QString words = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    EXPECT_TRUE(words.contains(QStringLiteral("Серийный номер: 815")));
    EXPECT_TRUE(words.contains(QStringLiteral("Реле Р3 переключалось почти в каждой записи")))
        << words.toStdString();
}

TEST_F(ReportWindowTest, AFolderThatCannotBeWrittenGivesOneMessageNamingIt) {
    auto form = bed_.OpenWindow();
    ASSERT_TRUE(form->OpenArchiveFile(path_));
    bed_.Dialogs().messages.clear(); // no controller on the line
    const QString blocker = bed_.Path(QStringLiteral("blocked/file"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(blocker).absolutePath()));
    QFile(blocker).open(QIODevice::WriteOnly);
    bed_.Dialogs().saveAnswers.push_back(blocker + QStringLiteral("/r.pdf"));
    Report(*form);
    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_TRUE(bed_.Dialogs().messages[0].text.contains(blocker))
        << bed_.Dialogs().messages[0].text.toStdString();
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_EQ(QDir(QFileInfo(blocker).absolutePath())
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("file")});
}

TEST_F(ReportWindowTest, TheSaveDialogNeverReplacesTheArchiveShownOrAKeptOne) {
    auto form = bed_.OpenWindow();
    ASSERT_TRUE(form->OpenArchiveFile(path_));
    QFile archive(path_);
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
    const QByteArray before = archive.readAll();
    archive.close();
    const QString link = bed_.Path(QStringLiteral("link.pdf"));
    ASSERT_TRUE(QFile::link(path_, link));
    // The archive shown by another spelling and through a link, and a new name among the kept
    // downloads (the window's data folder is the test bed's).
    const QString kept =
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/kv9000/archives/815/new.kvarc");
    for (const QString& chosen :
         {bed_.Path(QStringLiteral("815/../815/2024-01-09_10-00-00.kvarc")), link, kept}) {
        SCOPED_TRACE(chosen.toStdString());
        bed_.Dialogs().messages.clear();
        bed_.Dialogs().saveAnswers.push_back(chosen);
        Report(*form);
        ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
        EXPECT_TRUE(bed_.Dialogs().messages[0].text.startsWith(QStringLiteral("Отчёт не записан")))
            << bed_.Dialogs().messages[0].text.toStdString();
    }
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(kept));
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
    EXPECT_EQ(archive.readAll(), before);
}

} // namespace
