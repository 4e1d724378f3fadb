// The archive download as the window runs it, against the simulator: what the grids, the
// progress bar, the failure labels and the message boxes show, and a window closed mid-run.

#include "ArchiveDecoder.h"
#include "ArchiveDownload.h"
#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "ServiceSession.h"
#include "TextGrid.h"
#include "WindowTestSupport.h"

#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

std::vector<QStringList> Snapshot(const TextGrid& g) {
    std::vector<QStringList> rows;
    for (int r = 0; r < g.RowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < g.ColCount(); ++c)
            row << g.Cell(c, r);
        rows.push_back(row);
    }
    return rows;
}

class DownloadWindowTest : public ::testing::Test {
protected:
    // A simulator serving a known image for `channels`, and a window that found it on COM1.
    void Open(int channels, QStringList faults = {}) {
        served_ = testimage::FullImage(channels);
        QFile f(bed_.Path("archive.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(served_);
        f.close();
        faults << "--channels" << QString::number(channels) << "--image" << f.fileName();
        sim_ = bed_.StartSim(faults);
        ASSERT_TRUE(sim_->Running());
        bed_.WriteSettings("[General]\nCOM port=1\n" +
                           WindowTestBed::PortsSection({{1, sim_->Device()}}));
        form_ = bed_.OpenWindow();
        ASSERT_EQ(form_->Session().ChannelCount(), channels);
        bed_.Dialogs().messages.clear();
    }

    // Every cell below the headings equals what the decoder makes of the served image.
    void ExpectGridsShowServedImage() {
        const int channels = form_->Session().ChannelCount();
        TextGrid expected[4] = {{DataGridColumns, 4220},
                                {SettingsGridColumns, 5},
                                {DataGridColumns, 4220},
                                {SettingsGridColumns, 5}};
        DecodeArchive(served_, channels, GeometryFor(channels).recordCount,
                      {&expected[0], &expected[1], &expected[2], &expected[3]});
        for (int i = 0; i < 4; ++i) {
            auto shown = Snapshot(form_->Grid(i));
            auto want = Snapshot(expected[i]);
            ASSERT_EQ(shown.size(), want.size()) << "grid " << i;
            for (std::size_t r = 1; r < shown.size(); ++r)
                ASSERT_EQ(shown[r], want[r]) << "grid " << i << " row " << r;
        }
    }

    // Flash reads the simulator received, once it has ended.
    std::vector<QString> FlashReadPayloads() {
        sim_->Stop();
        std::vector<QString> payloads;
        for (const QJsonObject& o : ReadSimLog(bed_.Path("sim.log")))
            if (o.value("dir").toString() == "rx" && o.value("command").toInt() == 30)
                payloads.push_back(o.value("payload").toString());
        return payloads;
    }

    // Runs `action` once when the progress bar first reaches `offset`.
    void AtProgress(int offset, std::function<void()> action) {
        auto done = std::make_shared<bool>(false);
        QObject::connect(form_->ProgressBar1, &QProgressBar::valueChanged, form_.get(),
                         [=](int value) {
                             if (!*done && value == offset) {
                                 *done = true;
                                 action();
                             }
                         });
    }

    WindowTestBed bed_;
    QByteArray served_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TMainForm> form_;
};

} // namespace

TEST_F(DownloadWindowTest, FullRunsShowTheArchiveAndStartAgainAtZero) {
    Open(2);
    // Clicks while the run goes on do nothing: no second download, no export dialog.
    AtProgress(32 * 10, [this] {
        bed_.Dialogs().saveAnswers.push_back(bed_.Path("never.txt"));
        form_->bt_DF_Read->click();
        form_->btSaveToTxt->click();
    });
    form_->bt_DF_Read->click();
    ExpectGridsShowServedImage();
    EXPECT_EQ(form_->Grid(0).RowCount(), 4221);
    EXPECT_EQ(form_->Grid(2).RowCount(), 4221);
    EXPECT_EQ(form_->ProgressBar1->maximum(), ArchiveSize);
    EXPECT_EQ(form_->ProgressBar1->value(), ArchiveSize);
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_TRUE(bed_.Dialogs().saves.empty());

    // A second run: the full bar stays full until its first block arrives.
    int seenAtFirstPass = -1;
    QMetaObject::invokeMethod(
        form_.get(), [&] { seenAtFirstPass = form_->ProgressBar1->value(); }, Qt::QueuedConnection);
    form_->bt_DF_Read->click();
    EXPECT_EQ(seenAtFirstPass, ArchiveSize);
    ExpectGridsShowServedImage();

    const std::vector<QString> reads = FlashReadPayloads();
    ASSERT_EQ(reads.size(), 2u * FlashBlockCount);
    EXPECT_EQ(reads[FlashBlockCount - 1], "E01F040020");
    EXPECT_EQ(reads[FlashBlockCount], "0000000020");
}

// Two answers later than their time-out: asked again, checked, and neither they nor the answers
// to the second askings end up as later blocks; the grids and the kept file are the image's.
TEST_F(DownloadWindowTest, LateAnswersNeverShiftTheGridsOrTheKeptFile) {
    Open(2, {"--late", "100,6000", "--late-ms", "260"});
    form_->bt_DF_Read->click();
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    ExpectGridsShowServedImage();
    form_->WaitForArchiveSaves();
    const ArchiveFileReadResult kept = ReadArchiveFile(form_->Session().KeptPath());
    ASSERT_TRUE(kept.contents) << kept.error.toStdString();
    EXPECT_TRUE(kept.contents->image == served_);
    EXPECT_GE(form_->lbRXE->text().toInt(), 2); // a loaded machine may time out one more
}

TEST_F(DownloadWindowTest, OneChannelFillsChannelOneAndLeavesChannelTwo) {
    Open(1);
    const auto grid3 = Snapshot(form_->Grid(2));
    const auto grid4 = Snapshot(form_->Grid(3));
    form_->bt_DF_Read->click();
    EXPECT_EQ(form_->Grid(0).RowCount(), 8445);
    ExpectGridsShowServedImage();
    EXPECT_EQ(Snapshot(form_->Grid(2)), grid3);
    EXPECT_EQ(Snapshot(form_->Grid(3)), grid4);
}

TEST_F(DownloadWindowTest, TwentyFirstDroppedAnswerShowsRxErrorAndKeepsTheGrids) {
    // One block is not answered 21 times in a row: 20 retries, then the run gives up.
    QStringList drops;
    for (int n = 50; n <= 70; ++n)
        drops << QString::number(n);
    Open(2, {"--drop", drops.join(',')});
    form_->Grid(0).SetCell(0, 5, "5");
    form_->Grid(3).SetCell(15, 2, "1,0");
    std::vector<std::vector<QStringList>> before;
    for (int i = 0; i < 4; ++i)
        before.push_back(Snapshot(form_->Grid(i)));

    form_->bt_DF_Read->click();
    EXPECT_EQ(bed_.Dialogs().MessageTexts(), std::vector<QString>{"RX Error"});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Snapshot(form_->Grid(i)), before[i]) << "grid " << i;
    EXPECT_EQ(form_->lbRXE->text(), "21");
    EXPECT_EQ(form_->lbTXE->text(), "lbTXE");
    EXPECT_EQ(form_->ProgressBar1->value(), 32 * 49); // where the last good block left it
}

TEST_F(DownloadWindowTest, ClosingTheWindowStopsTheRunAtItsNextBlock) {
    Open(2);
    const auto grid1 = Snapshot(form_->Grid(0));
    AtProgress(32 * 100, [this] { form_->close(); });
    form_->bt_DF_Read->click();

    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_EQ(Snapshot(form_->Grid(0)), grid1); // nothing decoded
    // The 101st request was on the line while the window handled the close; none after it.
    EXPECT_EQ(FlashReadPayloads().size(), 101u);
    EXPECT_TRUE(bed_.ReadSettings().contains("COM port=1")); // the settings were saved
    form_->bt_DF_Read->click();                              // a closed window starts nothing
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}
