// Register console against the simulated board: single and block reads, writes, the address
// check, the board-information line, consume-then-echo, the codec-type menu and the tools menu.
#include "test_console_fixture.h"

#include "app/Tmainfrm.h"
#include "protocol/Command.h"
#include "windows/ShellOpen.h"
#include "windows/Twarnfrm.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <thread>

namespace {

std::string hex2(int v) {
    char s[8];
    std::snprintf(s, sizeof s, "%02X", v & 0xFF);
    return s;
}

QString valueCell(int v) {
    return QString::fromStdString("  0x" + hex2(v));
}

} // namespace

// --- single register access ----------------------------------------------------------------

TEST_F(ConsoleFixture, SingleReadReplyLandsInShadowCellValueFieldAndConsole) {
    chooseCodec("KV2440");
    board->SetRegister(kChip, 0x1A, 0x5C);
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    click("kv2580mfrm/RDRegCMD");
    const auto frames = framesSinceMark(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(recordIs(frames[0], {0x01, 0x1A, 0x00, 0x01}));
    ASSERT_TRUE(waitConsole("ReadReg:   Reg0x1A = 0x5C\n"));
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);
    EXPECT_EQ(cell(11, 2), "  0x5C");
    EXPECT_EQ(con->RegDatTxt->text(), "0x5C");
}

TEST_F(ConsoleFixture, WriteUpdatesCellShadowAndConsoleAndReachesTheBoard) {
    chooseCodec("KV1120");
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    typeText("kv2580mfrm/RegDatTxt", "0x5");
    click("kv2580mfrm/WRRegCMD");
    const auto frames = framesSinceMark(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(recordIs(frames[0], {0x00, 0x1A, 0x05}));
    EXPECT_EQ(cell(11, 2), "  0x05");
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x05);
    EXPECT_TRUE(consoleHas("WriteReg:   Reg0x1A = 0x05\n"));
    EXPECT_EQ(board->Register(kChip, 0x1A), 0x05);
}

TEST_F(ConsoleFixture, WriteWithBareValuePrefixSendsDefaultAndKeepsLowAddressBits) {
    chooseCodec("KV1120");
    typeText("kv2580mfrm/RegAddrTxt", "0x11A");
    typeText("kv2580mfrm/RegDatTxt", "0x");
    click("kv2580mfrm/WRRegCMD");
    const auto frames = framesSinceMark(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(recordIs(frames[0], {0x00, 0x1A, 0x80}));
    EXPECT_EQ(cell(11, 2), "  0x80");
}

TEST_F(ConsoleFixture, WritingRegisterFFShowsItButHasNoShadowEntry) {
    chooseCodec("KV2440");
    const auto shadowBefore = evb::gRegs.Shadow;
    typeText("kv2580mfrm/RegAddrTxt", "0xFF");
    typeText("kv2580mfrm/RegDatTxt", "0x42");
    click("kv2580mfrm/WRRegCMD");
    EXPECT_EQ(cell(16, 16), "  0x42");
    EXPECT_TRUE(consoleHas("WriteReg:   Reg0xFF = 0x42\n"));
    EXPECT_EQ(evb::gRegs.Shadow, shadowBefore);
}

TEST_F(ConsoleFixture, AddressCheckFollowsTheProfilesHighestAddress) {
    struct Case {
        const char* codec;
        const char* address;
        bool accepted;
    };
    const Case cases[] = {
        {"KV1120", "0x4C", true},  {"KV1120", "0x4D", false}, {"KV1120", "0x11A", true},
        {"KV1120", "junk", false}, // not a number: 0x80, above 0x4C
        {"KV2440", "0xFF", true},  {"KV2440", "0x00", true},  {"KV2440", "junk", true},
    };
    QString current;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + c.address);
        if (current != c.codec) {
            chooseCodec(c.codec);
            current = c.codec;
        }
        QWidget* warn = app->main->WarningWindow();
        ASSERT_NE(warn, nullptr);
        warn->hide();
        typeText("kv2580mfrm/RegAddrTxt", c.address);
        click("kv2580mfrm/RDRegCMD");
        if (c.accepted) {
            EXPECT_EQ(sentSinceMark(), 1u);
            EXPECT_FALSE(warn->isVisible());
            settle();
        } else {
            EXPECT_EQ(sentSinceMark(), 0u);
            EXPECT_TRUE(warn->isVisible());
            EXPECT_EQ(find<QLabel>("warnfrm/Errlbl")->text(), "Register Address is Error!");
            EXPECT_EQ(find<QLabel>("warnfrm/Errlbl1")->text(), "");
        }
        markFrames();
    }
}

// --- block replies ---------------------------------------------------------------------------

TEST_F(ConsoleFixture, BlockReplyOf76RegistersRewritesFiveRowsAndKeepsTheTail) {
    for (int r = 0; r < 256; ++r)
        board->SetRegister(kChip, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(r));
    chooseCodec("KV2440"); // the shadow now holds r for every register
    for (int r = 0; r < 256; ++r)
        board->SetRegister(kChip, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(0xFF - r));
    chooseCodec("KV1120");
    ASSERT_EQ(con->RegMapGrid->rowCount(), 6);
    for (int row = 1; row <= 5; ++row)
        for (int c = 1; c <= 16; ++c) {
            const int a = (row - 1) * 16 + c - 1;
            const int expected = a < 0x4C ? 0xFF - a : a;
            EXPECT_EQ(cell(c, row), valueCell(expected)) << "register " << a;
        }
    EXPECT_EQ(evb::gRegs.Shadow[0x4B], 0xFF - 0x4B);
    EXPECT_EQ(evb::gRegs.Shadow[0x4C], 0x4C);
    EXPECT_TRUE(consoleHas("ReadAllReg:   Reg0x00~Reg0x4C\n"));
}

TEST_F(ConsoleFixture, BlockReplyOf256RegistersFillsSixteenRowsAndShowsRegisterFF) {
    for (int r = 0; r < 256; ++r)
        board->SetRegister(kChip, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(r * 7 + 3));
    board->SetRegister(kChip, 0xFE, 0x3C);
    board->SetRegister(kChip, 0xFF, 0xA5);
    typeText("kv2580mfrm/RegAddrTxt", "0x02");
    chooseCodec("KV1160E");
    ASSERT_EQ(con->RegMapGrid->rowCount(), 17);
    EXPECT_EQ(cell(16, 16), "  0xA5");
    EXPECT_EQ(cell(15, 16), "  0x3C");
    EXPECT_EQ(cell(1, 1), valueCell(3));
    EXPECT_EQ(evb::gRegs.Shadow[0xFE], 0x3C);
    EXPECT_EQ(cell(0, 16), "  0xF0");
    EXPECT_EQ(cell(16, 0), "   0F");
    EXPECT_EQ(con->RegDatTxt->text(), QString::fromStdString("0x" + hex2(2 * 7 + 3)));
    EXPECT_EQ(con->ProgrBar->value(), 0);
    EXPECT_TRUE(consoleHas("ReadAllReg:   Reg0x00~Reg0xFF\n"));
}

TEST_F(ConsoleFixture, ReadAllWithAddressFFShowsThatRegistersValueFromTheReply) {
    chooseCodec("KV2440");
    board->SetRegister(kChip, 0xFF, 0x6E);
    typeText("kv2580mfrm/RegAddrTxt", "0xFF");
    click("kv2580mfrm/RdAllRegCMD");
    settle();
    EXPECT_EQ(con->RegDatTxt->text(), "0x6E");
    EXPECT_EQ(cell(16, 16), "  0x6E");
}

TEST_F(ConsoleFixture, ReadAllReplyBringsTheClosedConsoleBack) {
    chooseCodec("KV2650");
    click("kv2580mfrm/ExitCMD");
    ASSERT_FALSE(con->isVisible());
    board->SetRegister(kChip, 0x3C, 0x99);
    evb::CmdReadAllReg(0, evb::gRegs.HighestAddress);
    ASSERT_TRUE(WaitUntil([&] { return con->isVisible(); }));
    settle();
    EXPECT_EQ(cell(13, 4), "  0x99");
}

// --- board information and other replies ----------------------------------------------------

TEST_F(ConsoleFixture, BoardPictureAsksForTheInformationLine) {
    std::array<std::uint8_t, 18> info{};
    for (std::size_t i = 0; i < info.size(); ++i)
        info[i] = static_cast<std::uint8_t>(i);
    board->SetInfoRecord(info);
    markFrames();
    click("Image1");
    const auto frames = framesSinceMark(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(recordIs(frames[0], {0x58}));
    EXPECT_TRUE(waitConsole(".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n"));
}

class EchoTest : public ConsoleFixture, public ::testing::WithParamInterface<bool> {};

// The acknowledgement of a write is consumed unseen; a second package already waiting when the
// handler runs is echoed, as a character or in hex.
TEST_P(EchoTest, AcknowledgementConsumedLaterPackageEchoed) {
    const bool hex = GetParam();
    chooseCodec("KV1120");
    if (hex) click("HEXSHOW");
    ASSERT_EQ(find<QCheckBox>("HEXSHOW")->isChecked(), hex);
    typeText("kv2580mfrm/RegAddrTxt", "0x01");
    typeText("kv2580mfrm/RegDatTxt", "0x02");

    // From here on no Qt event is processed until both packages wait, so the first handler run
    // finds the acknowledgement and the byte behind it.
    auto& handoff = evb::ReplyHandoff();
    const int queued = handoff.queued.load();
    auto waitQueued = [&](int n) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (handoff.queued.load() < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return handoff.queued.load() >= n;
    };
    con->WRRegCMD->click();
    ASSERT_TRUE(waitQueued(queued + 1));
    board->SendUnsolicited({0x41});
    ASSERT_TRUE(waitQueued(queued + 2));
    ASSERT_TRUE(WaitUntil([&] { return handoff.finished.load() >= queued + 2; }));

    EXPECT_TRUE(
        consoleText().endsWith(hex ? "WriteReg:   Reg0x01 = 0x02\n41 " : "WriteReg:   Reg0x01 = 0x02\nA"))
        << consoleText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(CharacterAndHex, EchoTest, ::testing::Values(false, true));

// --- codec type menu -------------------------------------------------------------------------

namespace {

QStringList shownPresets(Tkv2580mfrm* con) {
    QStringList shown;
    for (QPushButton* b : con->PresetButtons)
        if (b->isVisible() && b->isEnabled()) shown << b->objectName().mid(6);
    return shown;
}

} // namespace

TEST_F(ConsoleFixture, ChoosingKv1120SendsTwoBlockReadsAndSetsUpTheConsole) {
    markFrames();
    triggerMenu("KV1120");
    const auto frames = framesSinceMark(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(recordIs(frames[0], {0x01, 0x00, 0x00, 0x4C}));
    EXPECT_TRUE(recordIs(frames[1], {0x01, 0x00, 0x00, 0x4C}));
    EXPECT_TRUE(consoleText().startsWith(
        "..............................Codec Type:KV1120..............................\n"))
        << consoleText().toStdString();
    settle();
    EXPECT_TRUE(consoleHas("ReadAllReg:   Reg0x00~Reg0x4C\n"));
    EXPECT_EQ(evb::gBoard.CodecType, 1120);
    EXPECT_TRUE(con->isVisible());
    EXPECT_EQ(con->windowTitle(), "KV1120 Evaluation");
    EXPECT_EQ(con->RegFrm->title(), "KV1120 Register Map");
    EXPECT_EQ(con->RegMapGrid->rowCount(), 6);
    EXPECT_EQ(con->RegMapGrid->columnWidth(3), 45);
    EXPECT_EQ(shownPresets(con).join(' '), "A1 A2 A3 A4 A5 A6 A7 A8 A9 B1 B2 C1 C2 C3");
    for (const char* name : {"DVDD2", "DVDD2P5", "DVDD3P3", "PLLCMD", "PLL_USE_CHK", "SDP3Group", "SDP3_MS"})
        EXPECT_FALSE(find<QWidget>(name)->isEnabled()) << name;
    for (const char* name : {"SDP1Group", "SDP1_MS", "SDP1_SLV", "SDP2Group", "SDP2_MS", "SDP2_SLV"})
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
}

TEST_F(ConsoleFixture, ChoosingKv1150GivesOneDataRowAndSixButtons) {
    chooseCodec("KV1150");
    EXPECT_EQ(con->RegMapGrid->rowCount(), 2);
    EXPECT_EQ(shownPresets(con).join(' '), "A1 A2 A3 A4 B1 B2");
    EXPECT_EQ(preset("ButtonA1")->text(), "CH1 Input");
    EXPECT_FALSE(preset("ButtonC1")->isVisible());
}

TEST_F(ConsoleFixture, Kv2330AfterKv2210sLeavesAGapAndShrinksTheGrid) {
    chooseCodec("KV2210S");
    EXPECT_EQ(con->RegMapGrid->rowCount(), 17);
    EXPECT_EQ(shownPresets(con).join(' '), "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 C1 C2 C3");
    chooseCodec("KV2330");
    EXPECT_EQ(con->RegMapGrid->rowCount(), 5);
    EXPECT_EQ(shownPresets(con).join(' '), "A1 A2 A3 A4 A6 B1 B2 B3");
    EXPECT_EQ(preset("ButtonA6")->geometry(), QRect(8, 480, 241, 33));
    EXPECT_EQ(preset("ButtonA2")->text(), "Record form LIN1 && RIN1");
    EXPECT_EQ(con->windowTitle(), "KV2330 Evaluation");
    // Growing again restores the row headers of the rows that come back.
    chooseCodec("KV2440");
    EXPECT_EQ(cell(0, 9), "  0x80");
    EXPECT_EQ(cell(0, 16), "  0xF0");
}

TEST_F(ConsoleFixture, Kv2220SelectsTheKv2210sProfileUnderItsOwnName) {
    chooseCodec("KV2220");
    EXPECT_EQ(evb::gBoard.CodecType, 2215);
    EXPECT_EQ(con->windowTitle(), "KV2210S Evaluation");
    EXPECT_TRUE(consoleText().startsWith(
        "..............................Codec Type:KV2220..............................\n"));
}

TEST_F(ConsoleFixture, CorvaneEnablesTheSdp3ButtonsAndReadsAll256) {
    markFrames();
    triggerMenu("Corvane");
    const auto frames = framesSinceMark(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(recordIs(frames[0], {0x01, 0x00, 0x01, 0x00}));
    settle();
    EXPECT_TRUE(consoleText().startsWith(
        "..............................Codec Type:CORVANE..............................\n"));
    for (const char* name : {"SDP3Group", "SDP3_MS", "SDP3_SLV", "DVDD2", "PLLCMD", "PLL_USE_CHK"})
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    EXPECT_EQ(con->windowTitle(), "Corvane Evaluation");
    EXPECT_EQ(preset("ButtonC1")->text(), "AutoPress Button");
}

TEST_F(ConsoleFixture, ChipsWithoutAProfileSetUpKeepTheLayoutAndSetTheirControls) {
    struct Case {
        void (Tmainfrm::*handler)();
        bool sdp2Group, sdp3Group;
    };
    const Case cases[] = {{&Tmainfrm::KV2910Click, true, true},
                          {&Tmainfrm::KV2920Click, false, false},
                          {&Tmainfrm::KV2930Click, true, false}};
    chooseCodec("KV2650");
    for (const Case& c : cases) {
        find<QGroupBox>("DvddGroup")->setEnabled(false);
        (app->main.get()->*c.handler)();
        settle();
        EXPECT_EQ(find<QWidget>("SDP2Group")->isEnabled(), c.sdp2Group);
        EXPECT_EQ(find<QWidget>("SDP3Group")->isEnabled(), c.sdp3Group);
        EXPECT_TRUE(find<QWidget>("DvddGroup")->isEnabled());
        EXPECT_TRUE(find<QWidget>("DVDD3P3")->isEnabled());
        EXPECT_FALSE(find<QWidget>("SDP3_SLV")->isEnabled());
    }
    // KV2910 and KV2920 have no set-up: the KV2650 layout stayed until KV2930 replaced it.
    EXPECT_EQ(con->windowTitle(), "KV2930 Evaluation");
}

// --- tools menu, About and MATLAB windows -----------------------------------------------------

class ToolsTest : public ConsoleFixture {
  protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        evb::SetShellOpenHook([this](const QUrl& url) { opened << url; });
        // No shipped copies of the documents: the bare names resolve in the working folder.
        evb::SetPresetSearchRoots({nowhere.path().toStdString()});
    }
    void TearDown() override {
        evb::SetShellOpenHook(nullptr);
        ConsoleFixture::TearDown();
    }
    QList<QUrl> opened;
    QTemporaryDir nowhere;
};

TEST_F(ToolsTest, ToolEntriesOpenTheirFilesInTheWorkingFolder) {
    triggerMenu("CorvaneEQ");
    triggerMenu("EQ Instruction");
    triggerMenu("EVB Instruction");
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QDir::current().absoluteFilePath("CorvaneEQ.exe")));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(QDir::current().absoluteFilePath("CorvaneEQ.PNG")));
    EXPECT_EQ(opened[2],
              QUrl::fromLocalFile(QDir::current().absoluteFilePath("Corvane EvbSoftware user manual.pdf")));
    EXPECT_EQ(sentSinceMark(), 0u);
}

TEST_F(ToolsTest, AboutWindowOpensFromTheMenuLinksAndHidesOnOk) {
    triggerMenu("VersionV221");
    auto* about = find<QWidget>("Form6");
    ASSERT_TRUE(about && about->isVisible());
    EXPECT_EQ(about->windowTitle(), "Corvane Evaluation Software");
    EXPECT_EQ(find<QLabel>("Form6/Label2")->text(), "Version : 2.4.5.2");
    EXPECT_EQ(find<QLabel>("Form6/Label4")->text(), "If you have any question,please contact with us,");
    click("Form6/Label5");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].scheme(), "https");
    EXPECT_TRUE(about->isVisible());
    click("Form6/Button1");
    EXPECT_FALSE(about->isVisible());
}

TEST_F(ToolsTest, MatlabWindowShowsVersionLinkAndPassword) {
    triggerMenu("Matlab Instruction");
    auto* matlab = find<QWidget>("Form1");
    ASSERT_TRUE(matlab && matlab->isVisible());
    EXPECT_EQ(matlab->windowTitle(), "Form1");
    EXPECT_EQ(find<QLabel>("Form1/Label1")->text(), QString::fromUtf8("Matlab Version\uFF1A2016a     "));
    EXPECT_EQ(find<QLabel>("Form1/Label3")->text(), QString::fromUtf8("Password\uFF1A"));
    EXPECT_EQ(find<QLabel>("Form1/Label4")->text().size(), 4);
    click("Form1/Label5");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toString(), find<QLabel>("Form1/Label5")->text());
    click("Form1/Button1");
    EXPECT_FALSE(matlab->isVisible());
}
