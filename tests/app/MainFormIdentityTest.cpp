// Changing the controller's identity from the window, against the simulator, and the access
// code that unlocks the serial number.

#include "FrameLink.h"
#include "LossyLine.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "WindowTestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kAccessCode = QStringLiteral("KV9000serv");

struct Request {
    int address;
    int command;
    QByteArray payload; // upper-case hex
};

class MainFormIdentityTest : public ::testing::Test {
protected:
    // A controller on COM1 and the window on it.
    void Start(QStringList simArgs = {}, int settingsAddress = 1) {
        sim_ = bed_.StartSim(simArgs);
        ASSERT_TRUE(sim_->Running());
        bed_.WriteSettings(
            QStringLiteral("[General]\nCOM port=1\nDevice address=%1\n").arg(settingsAddress) +
            WindowTestBed::PortsSection({{1, sim_->Device()}}));
        form_ = bed_.OpenWindow();
        ASSERT_EQ(form_->StatusText(0), "COM1");
        startRequests_ = RequestsSoFar().size();
    }

    std::vector<Request> RequestsSoFar() const {
        std::vector<Request> out;
        for (const QJsonObject& line : ReadSimLog(bed_.Path("sim.log")))
            if (line["dir"].toString() == "rx")
                out.push_back({line["address"].toInt(), line["command"].toInt(),
                               line["payload"].toString().toLatin1()});
        return out;
    }
    // The requests since the window finished starting.
    std::vector<Request> NewRequests() const {
        auto all = RequestsSoFar();
        return std::vector<Request>(all.begin() + static_cast<std::ptrdiff_t>(startRequests_),
                                    all.end());
    }
    static std::vector<int> Commands(const std::vector<Request>& requests) {
        std::vector<int> out;
        for (const Request& r : requests)
            out.push_back(r.command);
        return out;
    }
    QByteArray SentComment() const {
        for (const Request& r : NewRequests())
            if (r.command == 10)
                return QByteArray::fromHex(r.payload);
        return {};
    }

    void Unlock(const QString& code = kAccessCode) {
        bed_.Dialogs().inputAnswers.push_back(code);
        QTest::mouseDClick(form_->speSerial->Editor(), Qt::LeftButton);
    }
    void Write() { form_->btWriteInfo->click(); }

    WindowTestBed bed_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TMainForm> form_;
    std::size_t startRequests_ = 0;
};

TEST_F(MainFormIdentityTest, NewAddressGoesToTheOldOneAndEverythingAfterToTheNew) {
    Start();
    form_->speAddr->setValue(5);
    Write();
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    const auto requests = NewRequests();
    ASSERT_EQ(Commands(requests), (std::vector<int>{4, 8, 10, 7, 5, 9, 3}));
    EXPECT_EQ(requests[0].address, 1);
    EXPECT_EQ(requests[0].payload, "6E2B05");
    for (std::size_t i = 1; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].address, 5) << i;
    EXPECT_EQ(form_->Link().DeviceAddress, 5);
    EXPECT_EQ(form_->speAddr->value(), 5);
    EXPECT_EQ(bed_.SimState()["address"].toInt(), 5);

    form_->close();
    form_.reset();
    EXPECT_TRUE(bed_.ReadSettings().contains("Device address=5\n"));
    // The next start finds the controller at its new address.
    auto again = bed_.OpenWindow();
    EXPECT_EQ(again->StatusText(0), "COM1");
    EXPECT_EQ(again->speAddr->value(), 5);
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}

TEST_F(MainFormIdentityTest, UnlockedSerialNumberIsSentLittleEndian) {
    Start({"--serial", "777"});
    EXPECT_EQ(form_->speSerial->value(), 777);
    Unlock();
    EXPECT_FALSE(form_->speSerial->isReadOnly());
    form_->speSerial->setValue(12345);
    Write();
    const auto requests = NewRequests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].command, 8);
    EXPECT_EQ(requests[1].payload, "3930");
    EXPECT_EQ(bed_.SimState()["serial"].toInt(), 12345);
    EXPECT_EQ(form_->speSerial->value(), 12345);
}

TEST_F(MainFormIdentityTest, LockedSerialNumberWritesBackWhatWasRead) {
    Start({"--serial", "777"});
    Write();
    const auto requests = NewRequests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].command, 8);
    EXPECT_EQ(requests[1].payload, "0903"); // 777
}

TEST_F(MainFormIdentityTest, CommentsAreSentAsThirtyTwoBytes) {
    Start();
    struct Case {
        QString typed;
        QByteArray sent;
    };
    const QString thirtyOne = QString(31, QChar(0x0416)); // Ж
    const std::vector<Case> cases = {
        {"", QByteArray(1, '\0') + QByteArray(31, ' ')},
        {"Склад", ToCp1251("Склад") + QByteArray(1, '\0') + QByteArray(26, ' ')},
        {thirtyOne, ToCp1251(thirtyOne) + QByteArray(1, '\0')},
    };
    for (const Case& c : cases) {
        form_->edComment->setText(c.typed);
        startRequests_ = RequestsSoFar().size();
        Write();
        EXPECT_EQ(SentComment(), c.sent) << c.typed.toStdString();
        EXPECT_EQ(bed_.SimState()["comment"].toString(), c.typed);
        EXPECT_EQ(form_->edComment->text(), c.typed);
    }
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}

TEST_F(MainFormIdentityTest, APastedFortyCharacterCommentIsCutTo31) {
    Start();
    const QString forty = QStringLiteral("0123456789Котельная на улице Ленина 12-а");
    ASSERT_EQ(forty.size(), 40);
    form_->edComment->selectAll();
    form_->edComment->insert(forty);
    EXPECT_EQ(form_->edComment->text(), forty.left(31));
    Write();
    EXPECT_EQ(SentComment(), ToCp1251(forty.left(31)) + QByteArray(1, '\0'));
    EXPECT_EQ(bed_.SimState()["comment"].toString(), forty.left(31));
}

TEST_F(MainFormIdentityTest, AFailureStopsTheWriteWithOneMessageAndTheReadFollows) {
    struct Case {
        std::uint8_t command;
        LossyLine::Fault fault;
        const char* message;
        std::vector<int> sent; // what reaches the controller after start-up
        int addressAfter;
    };
    const std::vector<Case> cases = {
        {4, LossyLine::Fault::Lost, "RX Error", {7, 5, 9, 3}, 1},
        {4, LossyLine::Fault::SendFails, "TX Error", {7, 5, 9, 3}, 1},
        {8, LossyLine::Fault::Lost, "RX Error", {4, 7, 5, 9, 3}, 5},
        {10, LossyLine::Fault::Lost, "RX Error", {4, 8, 7, 5, 9, 3}, 5},
        {10, LossyLine::Fault::SendFails, "TX Error", {4, 8, 7, 5, 9, 3}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " at command " + std::to_string(c.command));
        bed_.Dialogs().messages.clear();
        LossyLine line(bed_, {{c.command, 1, c.fault}});
        Start({"--comment", "old"});
        form_->speAddr->setValue(5);
        form_->edComment->setText("new");
        Write();
        EXPECT_EQ(bed_.Dialogs().MessageTexts(), std::vector<QString>{c.message});
        EXPECT_EQ(Commands(NewRequests()), c.sent);
        EXPECT_EQ(form_->Link().DeviceAddress, c.addressAfter);
        // The read afterwards shows what the controller now holds.
        EXPECT_EQ(form_->speAddr->value(), c.addressAfter);
        EXPECT_EQ(form_->edComment->text(), "old");
        form_.reset();
        sim_.reset();
    }
}

TEST_F(MainFormIdentityTest, LostControllerGivesTxErrorForTheWriteAndForTheRead) {
    Start();
    sim_->Kill();
    Write();
    const auto texts = bed_.Dialogs().MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "TX Error");
    EXPECT_EQ(form_->Link().DeviceAddress, 1);
}

// A locked serial number field that holds no number read from this controller must never be
// written: it would replace the controller's real serial number with the field's start value.
TEST_F(MainFormIdentityTest, SerialNumberNotReadFromTheControllerIsNeverWritten) {
    LossyLine line(bed_,
                   {{7, 1, LossyLine::Fault::Lost}}); // the first read fails at its first step
    Start({"--serial", "4242", "--comment", "old"});
    ASSERT_EQ(bed_.Dialogs().MessageTexts(), std::vector<QString>{"RX Error"});
    ASSERT_EQ(form_->speSerial->value(), 1);
    form_->speAddr->setValue(6);
    form_->edComment->setText("new");
    Write();
    EXPECT_EQ(Commands(NewRequests()), (std::vector<int>{4, 10, 7, 5, 9, 3}));
    EXPECT_EQ(bed_.SimState()["serial"].toInt(), 4242);
    EXPECT_EQ(bed_.SimState()["address"].toInt(), 6);
    EXPECT_EQ(bed_.SimState()["comment"].toString(), "new");
    // The read after the write delivered the number: from now on it is written back as usual.
    EXPECT_EQ(form_->speSerial->value(), 4242);
    startRequests_ = RequestsSoFar().size();
    Write();
    EXPECT_EQ(Commands(NewRequests()), (std::vector<int>{4, 8, 10, 7, 5, 9, 3}));
}

TEST_F(MainFormIdentityTest, UnlockedSerialNumberIsWrittenEvenWithoutARead) {
    LossyLine line(bed_, {{7, 1, LossyLine::Fault::Lost}});
    Start({"--serial", "4242"});
    Unlock();
    form_->speSerial->setValue(1000);
    Write();
    EXPECT_EQ(bed_.SimState()["serial"].toInt(), 1000);
}

TEST_F(MainFormIdentityTest, AccessCodeDecidesBothFields) {
    Start();
    Unlock();
    ASSERT_EQ(bed_.Dialogs().inputs.size(), 1u);
    EXPECT_EQ(bed_.Dialogs().inputs[0].caption, "Введите пароль");
    EXPECT_EQ(bed_.Dialogs().inputs[0].prompt, "");
    EXPECT_EQ(bed_.Dialogs().inputs[0].defaultText, "");
    EXPECT_FALSE(form_->speSerial->isReadOnly());
    EXPECT_FALSE(form_->speAddr->isReadOnly());

    struct Case {
        std::optional<QString> answer;
        const char* what;
    };
    for (const Case& c : {Case{QString("KV9000serw"), "wrong"}, Case{std::nullopt, "cancelled"},
                          Case{QString("KV9000"), "short"}, Case{QString("KV9000serv1"), "long"},
                          Case{QString(""), "empty"}}) {
        Unlock(kAccessCode); // editable again
        bed_.Dialogs().inputAnswers.push_back(c.answer);
        // The address field serves the same handler.
        QTest::mouseDClick(form_->speAddr->Editor(), Qt::LeftButton);
        EXPECT_TRUE(form_->speSerial->isReadOnly()) << c.what;
        EXPECT_TRUE(form_->speAddr->isReadOnly()) << c.what;
    }
    Unlock();
    EXPECT_FALSE(form_->speAddr->isReadOnly());
}

} // namespace
