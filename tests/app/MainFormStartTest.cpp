// The window as it starts and closes: its controls, the settings file, finding the controller
// on a pseudo-terminal with the simulator, and the identity read that follows.

#include "Discovery.h"
#include "FrameLink.h"
#include "LossyLine.h"
#include "ServiceSession.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "StringGrid.h"
#include "WindowTestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace {

const QString kNotFound = QStringLiteral("Регулятор не обнаружен!");
const QString kOneChannelId = QStringLiteral("Лорк КB-9000Л вер. 1.07");
const QString kTwoChannelId = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");

// The requests a simulator received (log lines "rx").
std::vector<QJsonObject> Requests(const QString& logPath) {
    std::vector<QJsonObject> out;
    for (const QJsonObject& line : ReadSimLog(logPath))
        if (line["dir"].toString() == "rx")
            out.push_back(line);
    return out;
}

class MainFormStartTest : public ::testing::Test {
protected:
    WindowTestBed bed_;
};

TEST_F(MainFormStartTest, ControlsOfTheDesign) {
    auto form = bed_.OpenWindow(); // no port at all: not found
    EXPECT_EQ(form->objectName(), "MainForm");
    EXPECT_EQ(form->windowTitle(), "Лорк КВ-9000Л");
    EXPECT_EQ(kApplicationTitle, "КВ-9000Л");
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed size";
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(form->GroupBox2->title(), " Информация ");
    EXPECT_EQ(form->lbSerial->text(), "Серийный номер:");
    EXPECT_EQ(form->Label1->text(), "Сетевой адрес:");
    EXPECT_EQ(form->lbComment->text(), "Место установки регулятора:");
    EXPECT_EQ(form->btReadInfo->text(), "Прочитать");
    EXPECT_TRUE(form->btReadInfo->isHidden());
    EXPECT_EQ(form->btWriteInfo->text(), "Изменить");
    EXPECT_EQ(form->bt_DF_Read->text(), "Прочитать данные из регулятора");
    EXPECT_EQ(form->btSaveToTxt->text(), "Сохранить в текстовый файл");
    EXPECT_EQ(form->btExportToExel->text(), "Экспорт в Excel");
    EXPECT_EQ(form->btExportToOOo->text(), "Экспорт в OOCalc");
    EXPECT_FALSE(form->btExportToOOo->toolTip().isEmpty());
    EXPECT_TRUE(form->lbTXE->isHidden());
    EXPECT_TRUE(form->lbRXE->isHidden());

    EXPECT_EQ(form->speSerial->minimum(), 1);
    EXPECT_EQ(form->speSerial->maximum(), 65535);
    EXPECT_EQ(form->speSerial->value(), 1);
    EXPECT_TRUE(form->speSerial->isReadOnly());
    EXPECT_EQ(form->speAddr->minimum(), 1);
    EXPECT_EQ(form->speAddr->maximum(), 127);
    EXPECT_FALSE(form->speAddr->isReadOnly());
    EXPECT_EQ(form->edComment->text(), "");
    EXPECT_EQ(form->edComment->maxLength(), 31);

    EXPECT_EQ(form->PageControl1->tabPosition(), QTabWidget::South);
    EXPECT_EQ(form->PageControl1->count(), 2);
    EXPECT_EQ(form->PageControl1->tabText(0), "Канал 1");
    EXPECT_EQ(form->PageControl1->tabText(1), "Канал 2");
    EXPECT_EQ(form->PageControl1->currentIndex(), 0);
    for (QLabel* l : {form->Label5, form->Label7})
        EXPECT_EQ(l->text(), "Данные");
    for (QLabel* l : {form->Label6, form->Label8})
        EXPECT_EQ(l->text(), "Настройки");
    EXPECT_EQ(form->ProgressBar1->minimum(), 0);
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
    EXPECT_EQ(form->StatusBar->PanelCount(), 2);
    EXPECT_EQ(form->SaveDialog.DefaultExt, "*.txt");
    EXPECT_EQ(form->SaveDialog.Filter, "txt|*.txt");
    EXPECT_TRUE(form->SaveDialog.OverwritePrompt);
}

TEST_F(MainFormStartTest, GridsWithTheirHeadings) {
    auto form = bed_.OpenWindow();
    const QStringList data = {"№",  "Дата",  "Время", "Тпод", "Тобр",  "Тп1",   "Тп2",
                              "Тп", "Тнар.", "Тграф", "Туст", "Ттреб", "tвозд", "Реле"};
    const QStringList settings = {"№",      "Дата",     "Время",    "Режим",   "Тип рег.", "Кнак.1",
                                  "Кнак.2", "Тнач.от.", "Тизл.от.", "Ккорр.",  "tц.",      "tпост.",
                                  "Кп",     "Ки",       "Кд",       "Защ.инт."};
    for (StringGrid* g : {form->StringGrid1, form->StringGrid3}) {
        EXPECT_EQ(g->ColCount(), 14);
        EXPECT_EQ(g->RowCount(), 4220);
        for (int c = 0; c < 14; ++c)
            EXPECT_EQ(g->Cell(c, 0), data[c]) << c;
        EXPECT_EQ(g->Cell(1, 1), "");
    }
    for (StringGrid* g : {form->StringGrid2, form->StringGrid4}) {
        EXPECT_EQ(g->ColCount(), 16);
        EXPECT_EQ(g->RowCount(), 5);
        for (int c = 0; c < 16; ++c)
            EXPECT_EQ(g->Cell(c, 0), settings[c]) << c;
    }
    // The t of "tвозд", "tц." and "tпост." is Latin, every Т of "Тпод" Cyrillic.
    EXPECT_EQ(form->StringGrid1->Cell(12, 0)[0], QChar('t'));
    EXPECT_EQ(form->StringGrid2->Cell(10, 0)[0], QChar('t'));
    EXPECT_EQ(form->StringGrid1->Cell(3, 0)[0], QChar(0x0422));
    EXPECT_EQ(form->StringGrid1->Cell(0, 0), QString(QChar(0x2116)));
    EXPECT_EQ(&form->Grid(2), &form->StringGrid3->Cells());
}

TEST_F(MainFormStartTest, NotFoundShowsTheMessageAndStoresPortZero) {
    bed_.WriteSettings("[General]\nCOM port=4\n");
    {
        auto form = bed_.OpenWindow();
        ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
        EXPECT_EQ(bed_.Dialogs().messages[0].text, kNotFound);
        EXPECT_EQ(bed_.Dialogs().messages[0].caption, "КВ-9000Л");
        EXPECT_EQ(form->StatusText(0), "");
        EXPECT_EQ(form->StatusText(1), "");
        EXPECT_EQ(form->StatusBar->HintText(), "Порт не найден? Диагностика порта");
        EXPECT_EQ(form->Session().ChannelCount(), 0);
        EXPECT_EQ(form->Session().Geometry().recordCount, 0);
        EXPECT_EQ(form->Link().CurrentPort(), 0);
        EXPECT_EQ(form->speSerial->value(), 1);
        EXPECT_EQ(form->speAddr->value(), 1);
        form->close();
    }
    const QString saved = bed_.ReadSettings();
    EXPECT_TRUE(saved.contains("COM port=0\n"));
    EXPECT_TRUE(saved.contains("Device address=1\n"));
    EXPECT_FALSE(saved.contains("COM speed"));
}

TEST_F(MainFormStartTest, FirstStartWithoutSettingsFile) {
    {
        auto form = bed_.OpenWindow();
        EXPECT_EQ(form->pos(), QPoint(386, 59));
        EXPECT_EQ(form->Link().DeviceAddress, 1);
        form->move(400, 70);
        form->close();
    }
    const QString saved = bed_.ReadSettings();
    EXPECT_TRUE(saved.startsWith("[General]\n"));
    for (const char* line : {"Left=400\n", "Top=70\n", "COM port=0\n", "Device address=1\n"})
        EXPECT_TRUE(saved.contains(line)) << line;
    EXPECT_LT(saved.indexOf("Left="), saved.indexOf("Top="));
    EXPECT_LT(saved.indexOf("Top="), saved.indexOf("COM port="));
    EXPECT_LT(saved.indexOf("COM port="), saved.indexOf("Device address="));
    EXPECT_FALSE(saved.contains("COM speed"));
}

TEST_F(MainFormStartTest, FoundOnTheConfiguredPortWithoutTouchingOthers) {
    auto sim = bed_.StartSim({"--channels", "2", "--serial", "12345", "--comment", "Котельная"});
    auto other = bed_.StartSim({"--channels", "1"}, "other");
    ASSERT_TRUE(sim->Running() && other->Running());
    bed_.WriteSettings("[General]\nCOM port=3\n" +
                       WindowTestBed::PortsSection({{1, other->Device()}, {3, sim->Device()}}));
    {
        auto form = bed_.OpenWindow();
        EXPECT_TRUE(bed_.Dialogs().messages.empty());
        EXPECT_EQ(form->Link().CurrentPort(), 3);
        EXPECT_EQ(form->StatusText(0), "COM3");
        EXPECT_EQ(form->StatusText(1), kTwoChannelId);
        EXPECT_EQ(form->speSerial->value(), 12345);
        EXPECT_EQ(form->speAddr->value(), 1);
        EXPECT_EQ(form->edComment->text(), "Котельная");
        EXPECT_EQ(form->Session().ChannelCount(), 2);
        EXPECT_EQ(form->Session().Geometry().channelBlockSize, 135168);
        EXPECT_EQ(form->Session().Geometry().recordAreaSize, 135040);
        EXPECT_EQ(form->Session().Geometry().recordCount, 4220);
        form->close();
    }
    EXPECT_TRUE(Requests(bed_.Path("other.log")).empty());
    // Identification, then serial number, address, comment, identification.
    std::vector<int> commands;
    for (const QJsonObject& r : Requests(bed_.Path("sim.log")))
        commands.push_back(r["command"].toInt());
    EXPECT_EQ(commands, (std::vector<int>{3, 7, 5, 9, 3}));
    EXPECT_TRUE(bed_.ReadSettings().contains("COM port=3\n"));
}

TEST_F(MainFormStartTest, FoundByTheScanOnALaterPort) {
    auto sim = bed_.StartSim({"--channels", "1"});
    // Another device answers on COM2, but not with the controller's identification.
    auto stranger = bed_.StartSim({"--id", "Лорк КВ-9000Л"}, "stranger");
    ASSERT_TRUE(sim->Running() && stranger->Running());
    bed_.WriteSettings("[General]\nCOM port=0\nDevice address=1\n" +
                       WindowTestBed::PortsSection({{2, stranger->Device()}, {5, sim->Device()}}));
    {
        auto form = bed_.OpenWindow();
        EXPECT_TRUE(bed_.Dialogs().messages.empty());
        EXPECT_EQ(form->StatusText(0), "COM5");
        EXPECT_EQ(form->StatusText(1), kOneChannelId);
        EXPECT_EQ(form->Session().ChannelCount(), 1);
        EXPECT_EQ(form->Session().Geometry().channelBlockSize, 270336);
        EXPECT_EQ(form->Session().Geometry().recordCount, 8444);
        form->close();
    }
    const auto strangerRequests = Requests(bed_.Path("stranger.log"));
    ASSERT_EQ(strangerRequests.size(), 1u);
    EXPECT_EQ(strangerRequests[0]["command"].toInt(), 3);
    EXPECT_TRUE(bed_.ReadSettings().contains("COM port=5\n"));
}

TEST_F(MainFormStartTest, ConfiguredPortThatIsGoneLeadsToTheScan) {
    auto sim = bed_.StartSim({});
    ASSERT_TRUE(sim->Running());
    bed_.WriteSettings("[General]\nCOM port=7\n" +
                       WindowTestBed::PortsSection({{7, "/nonexistent/tty"}, {19, sim->Device()}}));
    auto form = bed_.OpenWindow();
    EXPECT_EQ(form->StatusText(0), "COM19");
    EXPECT_EQ(form->Session().ChannelCount(), 2);
}

TEST_F(MainFormStartTest, APortAbove19IsFoundOnlyAsTheConfiguredPort) {
    auto sim = bed_.StartSim({});
    ASSERT_TRUE(sim->Running());
    const QString ports = WindowTestBed::PortsSection({{20, sim->Device()}});
    bed_.WriteSettings("[General]\nCOM port=0\n" + ports);
    bed_.OpenWindow()->close();
    ASSERT_EQ(bed_.Dialogs().MessageTexts(), std::vector<QString>{kNotFound});

    bed_.WriteSettings("[General]\nCOM port=20\n" + ports);
    auto form = bed_.OpenWindow();
    EXPECT_EQ(form->StatusText(0), "COM20");
}

TEST_F(MainFormStartTest, DeviceAddressKeepsItsLow8BitsWhileTheFieldIsClamped) {
    struct Case {
        int inFile;
        int simAddress;
        int shown;
    };
    for (const Case c : {Case{200, 200, 127}, Case{300, 44, 44}}) {
        auto sim = bed_.StartSim({"--address", QString::number(c.simAddress)});
        ASSERT_TRUE(sim->Running());
        bed_.WriteSettings(
            QStringLiteral("[General]\nCOM port=1\nDevice address=%1\n").arg(c.inFile) +
            WindowTestBed::PortsSection({{1, sim->Device()}}));
        {
            auto form = bed_.OpenWindow();
            EXPECT_EQ(form->StatusText(0), "COM1") << c.inFile;
            EXPECT_EQ(form->Link().DeviceAddress, c.simAddress) << c.inFile;
            EXPECT_EQ(form->speAddr->value(), c.shown) << c.inFile;
            // An address that does not fit a byte is said, with the one used.
            EXPECT_EQ(form->StatusBar->Notice().contains(
                          QStringLiteral("Device address=%1: не от 0 до 255; используется адрес %2")
                              .arg(c.inFile)
                              .arg(c.simAddress)),
                      c.inFile > 255)
                << form->StatusBar->Notice().toStdString();
            form->close();
        }
        // Every request went to the address of the file, not to the one the field shows.
        for (const QJsonObject& r : Requests(bed_.Path("sim.log")))
            EXPECT_EQ(r["address"].toInt(), c.simAddress);
        EXPECT_TRUE(
            bed_.ReadSettings().contains(QStringLiteral("Device address=%1\n").arg(c.simAddress)));
    }
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}

TEST_F(MainFormStartTest, HandWrittenComSpeedIsUsedAndKept) {
    auto sim = bed_.StartSim({});
    ASSERT_TRUE(sim->Running());
    const QString settings = "[General]\nCOM port=2\nCOM speed=9600\nUser key=kept as is\n"
                             "; a comment of the user\n[Other]\nx=1\n" +
                             WindowTestBed::PortsSection({{2, sim->Device()}});
    bed_.WriteSettings(settings);
    LossyLine line(bed_, {});
    {
        auto form = bed_.OpenWindow();
        EXPECT_EQ(form->PortSpeed, 9600);
        ASSERT_FALSE(line.OpenSpeeds().empty());
        EXPECT_EQ(line.OpenSpeeds().back(), 9600);
        form->close();
    }
    const QString saved = bed_.ReadSettings();
    for (const char* kept : {"COM speed=9600\n", "User key=kept as is\n",
                             "; a comment of the user\n[Other]\nx=1\n", "[Ports]\nCOM2="})
        EXPECT_TRUE(saved.contains(kept)) << kept;
}

TEST_F(MainFormStartTest, FailureAtTheCommentStepKeepsWhatWasReadAndShowsOneMessage) {
    auto sim = bed_.StartSim({"--serial", "4321", "--address", "9"});
    ASSERT_TRUE(sim->Running());
    bed_.WriteSettings("[General]\nCOM port=1\nDevice address=9\n" +
                       WindowTestBed::PortsSection({{1, sim->Device()}}));
    LossyLine line(bed_, {{9, 1, LossyLine::Fault::Lost}});
    auto form = bed_.OpenWindow();
    EXPECT_EQ(bed_.Dialogs().MessageTexts(), std::vector<QString>{"RX Error"});
    EXPECT_EQ(form->speSerial->value(), 4321);
    EXPECT_EQ(form->speAddr->value(), 9);
    EXPECT_EQ(form->edComment->text(), "");
    // The port and the channel count are known in any case.
    EXPECT_EQ(form->StatusText(0), "COM1");
    EXPECT_EQ(form->Session().Geometry().recordCount, 4220);
}

TEST_F(MainFormStartTest, TxFailureInTheReadIsReportedAsTxError) {
    auto sim = bed_.StartSim({});
    ASSERT_TRUE(sim->Running());
    bed_.WriteSettings("[General]\nCOM port=1\n" +
                       WindowTestBed::PortsSection({{1, sim->Device()}}));
    LossyLine line(bed_, {{5, 1, LossyLine::Fault::SendFails}});
    auto form = bed_.OpenWindow();
    EXPECT_EQ(bed_.Dialogs().MessageTexts(), std::vector<QString>{"TX Error"});
    EXPECT_EQ(form->speSerial->value(), 12345);
    EXPECT_EQ(form->edComment->text(), "");
}

TEST_F(MainFormStartTest, ReadRepliesAreClampedByTheFields) {
    auto sim = bed_.StartSim({"--serial", "0", "--address", "0"});
    ASSERT_TRUE(sim->Running());
    bed_.WriteSettings("[General]\nCOM port=1\nDevice address=0\n" +
                       WindowTestBed::PortsSection({{1, sim->Device()}}));
    auto form = bed_.OpenWindow();
    EXPECT_EQ(form->speSerial->value(), 1);
    EXPECT_EQ(form->speAddr->value(), 1);
    EXPECT_EQ(form->Link().DeviceAddress, 0) << "the read never changes the link's address";
}

} // namespace
