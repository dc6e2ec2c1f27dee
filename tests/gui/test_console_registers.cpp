// Register console against the simulated board: single and block reads, writes, the address
// check, the board-information line, consume-then-echo, the codec-type menu and the tools menu.
// The chip profiles' contents are proved with their table; here: that they reach the window.
#include "tests/gui/support/GuiHarness.h"

#include "app/AppSetup.h"
#include "app/Tmainfrm.h"
#include "protocol/Command.h"
#include "protocol/TextConv.h"
#include "windows/ShellOpen.h"
#include "windows/Twarnfrm.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>

namespace {

QString valueCell(int v) {
    return QString::fromStdString("  0x" + evb::Hex2(static_cast<unsigned>(v) & 0xFF));
}

} // namespace

// A read lands the board's value in the shadow, the cell, the value field and the console. A
// write's fields go through the text conversion; register 0xFF is shown but has no shadow entry.
TEST_F(GuiFixture, ReadAndWriteReachCellShadowConsoleAndBoard) {
    chooseCodec("KV2440");
    board->SetRegister(kChip, 0x1A, 0x5C);
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    click("kv2580mfrm/RDRegCMD");
    expectSent({{0x01, 0x1A, 0x00, 0x01}});
    ASSERT_TRUE(waitConsole("ReadReg:   Reg0x1A = 0x5C\n"));
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);
    EXPECT_EQ(cell(11, 2), "  0x5C");
    EXPECT_EQ(con->RegDatTxt->text(), "0x5C");
    struct Case {
        const char *address, *value;
        int reg, sent, col, row;
    };
    for (const Case& c : {Case{"x1A", "$80", 0x1A, 0x80, 11, 2}, Case{"0xFF", "0x42", 0xFF, 0x42, 16, 16}}) {
        SCOPED_TRACE(c.address);
        const auto shadow = evb::gRegs.Shadow;
        typeText("kv2580mfrm/RegAddrTxt", c.address);
        typeText("kv2580mfrm/RegDatTxt", c.value);
        click("kv2580mfrm/WRRegCMD");
        expectSent({{0x00, c.reg, c.sent}});
        EXPECT_EQ(cell(c.col, c.row), valueCell(c.sent));
        EXPECT_TRUE(consoleText().endsWith(QString("WriteReg:   Reg0x%1 = %2\n").arg(evb::Hex2(c.reg).c_str(), valueCell(c.sent).trimmed())));
        EXPECT_EQ(board->Register(kChip, static_cast<std::uint8_t>(c.reg)), c.sent);
        EXPECT_EQ(c.reg < 0xFF ? evb::gRegs.Shadow[c.reg] : 0, c.reg < 0xFF ? c.sent : 0);
        EXPECT_EQ(c.reg < 0xFF || evb::gRegs.Shadow == shadow, true) << "register 0xFF has no shadow entry";
        settle();
    }
}

// A typed number is read in full: a typo, a number out of range or an empty field sends nothing
// and the console names the range; the address check keeps its warning window. A write that
// could not be sent leaves the grid and the shadow as they were and says so.
TEST_F(GuiFixture, TypedNumbersAreCheckedInFullAndAWriteNotSentIsNotShownAsDone) {
    struct Case {
        const char *codec, *address, *value, *refusal; // refusal: the console line, "" when sent
    };
    for (const Case& c : {Case{"KV1120", "0x4C", "0x05", ""}, Case{"KV1120", "0x4D", "0", "Register Address must be 0x00..0x4C: 0x4D"},
                          Case{"KV1120", "junk", "0", "Register Address must be 0x00..0x4C: junk"},
                          Case{"KV2440", "0x1FF", "zz", "Register Address must be 0x00..0xFF: 0x1FF"},
                          Case{"KV2440", "256", "300", "Register Address must be 0x00..0xFF: 256"},
                          Case{"KV2440", "-1", "1", "Register Address must be 0x00..0xFF: -1"},
                          Case{"KV2440", "0x10", "zz", "Register Value must be 0x00..0xFF: zz"},
                          Case{"KV2440", "0x10", "", "Register Value must be 0x00..0xFF: "},
                          Case{"KV2440", "0x10", "0x", "Register Value must be 0x00..0xFF: 0x"}}) {
        SCOPED_TRACE(std::string(c.codec) + " " + c.address + " " + c.value);
        if (con->windowTitle() != QString(c.codec) + " Evaluation") chooseCodec(c.codec);
        app->main->WarningWindow()->hide();
        const auto shadow = evb::gRegs.Shadow;
        typeText("kv2580mfrm/RegAddrTxt", c.address);
        typeText("kv2580mfrm/RegDatTxt", c.value);
        click("kv2580mfrm/WRRegCMD");
        EXPECT_EQ(sentSinceMark(), *c.refusal ? 0u : 1u);
        if (*c.refusal) {
            EXPECT_TRUE(consoleText().endsWith(QString(c.refusal) + "\n")) << consoleText().toStdString();
            EXPECT_EQ(evb::gRegs.Shadow, shadow);
        }
        const bool addressRefused = QString(c.refusal).startsWith("Register Address");
        EXPECT_EQ(app->main->WarningWindow()->isVisible(), addressRefused);
        if (addressRefused) {
            EXPECT_EQ(warning() + find<QLabel>("warnfrm/Errlbl1")->text(), "Register Address is Error!");
            click("kv2580mfrm/RDRegCMD"); // a read refuses the same address
            EXPECT_EQ(sentSinceMark(), 0u);
        }
        settle();
        markFrames();
    }
    app->main->RS232.fSetActive(false);
    const QString before = cell(1, 2);
    const int was = evb::gRegs.Shadow[0x10];
    typeText("kv2580mfrm/RegAddrTxt", "0x10");
    typeText("kv2580mfrm/RegDatTxt", valueCell(was ^ 0xFF).trimmed());
    click("kv2580mfrm/WRRegCMD");
    EXPECT_EQ(warning(), "COM1 used by others Device!");
    EXPECT_TRUE(consoleText().endsWith("WriteReg:   Reg0x10 = " + valueCell(was ^ 0xFF).trimmed() + " not sent\n"));
    EXPECT_EQ(cell(1, 2), before);
    EXPECT_EQ(evb::gRegs.Shadow[0x10], was);
}

// On a dark palette the bevel lines around the console's panels are drawn in the palette's
// greys, not in white.
TEST_F(GuiFixture, OnADarkPaletteTheConsolesBevelsAreNotWhite) {
    UseDarkPalette();
    chooseCodec("KV1120");
    const QImage shot = con->grab().toImage();
    int brightest = 0;
    for (const int y : {312, 313}) // the A column's top line, both of its shades
        for (int x = 10; x < 240; ++x)
            brightest = std::max(brightest, qGray(shot.pixel(x, y)));
    EXPECT_LT(brightest, 0x90);
}

// --- block replies ---------------------------------------------------------------------------

// A reply of 256 registers fills sixteen rows and shows register 0xFF; one of 76 then rewrites
// five rows and keeps the tail the shadow held; a reply brings the closed console back.
TEST_F(GuiFixture, BlockRepliesFillTheGridKeepTheTailAndBringTheConsoleBack) {
    for (int r = 0; r < 256; ++r)
        board->SetRegister(kChip, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(r * 7 + 3));
    board->SetRegister(kChip, 0xFE, 0x3C);
    board->SetRegister(kChip, 0xFF, 0xA5);
    typeText("kv2580mfrm/RegAddrTxt", "0x02");
    chooseCodec("KV1160E");
    ASSERT_EQ(con->RegMapGrid->rowCount(), 17);
    EXPECT_EQ(cell(16, 16) + cell(15, 16) + cell(1, 1), "  0xA5  0x3C" + valueCell(3));
    EXPECT_EQ(evb::gRegs.Shadow[0xFE], 0x3C);
    EXPECT_EQ(cell(0, 16) + cell(16, 0), "  0xF0   0F");
    EXPECT_EQ(con->RegDatTxt->text(), valueCell(2 * 7 + 3).trimmed());
    EXPECT_EQ(con->ProgrBar->value(), 0);
    EXPECT_TRUE(consoleHas("ReadAllReg:   Reg0x00~Reg0xFF\n"));
    // "Read All" with address 0xFF shows that register's value from the reply.
    board->SetRegister(kChip, 0xFF, 0x6E);
    typeText("kv2580mfrm/RegAddrTxt", "0xFF");
    click("kv2580mfrm/RdAllRegCMD");
    settle();
    EXPECT_EQ(con->RegDatTxt->text() + cell(16, 16), "0x6E  0x6E");

    for (int r = 0; r < 256; ++r)
        board->SetRegister(kChip, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(0xFF - r));
    chooseCodec("KV1120");
    ASSERT_EQ(con->RegMapGrid->rowCount(), 6);
    for (int a = 0; a < 80; ++a)
        EXPECT_EQ(cell(a % 16 + 1, a / 16 + 1), valueCell(a < 0x4C ? 0xFF - a : a * 7 + 3))
            << "register " << a;
    EXPECT_TRUE(consoleHas("ReadAllReg:   Reg0x00~Reg0x4C\n"));

    click("kv2580mfrm/ExitCMD");
    ASSERT_FALSE(con->isVisible());
    board->SetRegister(kChip, 0x3C, 0x99);
    evb::CmdReadAllReg(0, evb::gRegs.HighestAddress);
    ASSERT_TRUE(WaitUntil([&] { return con->isVisible(); }));
    settle();
    EXPECT_EQ(cell(13, 4), "  0x99");
}

// --- board information and other replies ----------------------------------------------------

TEST_F(GuiFixture, BoardPictureAsksForTheInformationLine) {
    markFrames();
    click("Image1"); // the simulated board's record holds the bytes 0x00 to 0x11
    expectSent({{0x58}});
    EXPECT_TRUE(waitConsole(".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n"));
}

// The acknowledgement of a write is consumed unseen; a second package already waiting when the
// handler runs is echoed, as a character, then in hex.
TEST_F(GuiFixture, AcknowledgementConsumedLaterPackageEchoedAsCharacterOrHex) {
    chooseCodec("KV1120");
    typeText("kv2580mfrm/RegAddrTxt", "0x01");
    typeText("kv2580mfrm/RegDatTxt", "0x02");
    auto& handoff = ReplyHandoff();
    for (const bool hex : {false, true}) {
        SCOPED_TRACE(hex ? "hex" : "character");
        if (hex) click("HEXSHOW");
        ASSERT_EQ(find<QCheckBox>("HEXSHOW")->isChecked(), hex);
        // From here on no Qt event is processed until both packages wait, so the first handler run
        // finds the acknowledgement and the byte behind it.
        const int queued = handoff.queued.load();
        con->WRRegCMD->click();
        ASSERT_TRUE(waitHandedOver(queued + 1));
        board->SendUnsolicited({0x41});
        ASSERT_TRUE(waitHandedOver(queued + 2));
        ASSERT_TRUE(WaitUntil([&] { return handoff.finished.load() >= queued + 2; }));
        const QString written = "WriteReg:   Reg0x01 = 0x02\n";
        EXPECT_TRUE(consoleText().endsWith(written + (hex ? "41 " : "A"))) << consoleText().toStdString();
    }
}

// --- codec type menu -------------------------------------------------------------------------

namespace {

QString shownPresets(Tkv2580mfrm* con) {
    QStringList shown;
    for (QPushButton* b : con->PresetButtons)
        if (b->isVisible() && b->isEnabled()) shown << b->objectName().mid(6);
    return shown.join(' ');
}

void expectEnabled(std::initializer_list<const char*> names, bool enabled) {
    for (const char* name : names)
        EXPECT_EQ(FindWidgetByName(name)->isEnabled(), enabled) << name;
}

} // namespace

// Each entry reads the chip's registers twice and sets up the console under the entry's own
// name: KV2220 selects the KV2210S profile (the grid grows back with its row headers); Corvane
// enables the SDP3 buttons; KV2330 shrinks the grid and leaves a gap where its A5 is hidden.
// KV2910 and KV2920 have no profile: they keep the layout and set only their controls.
TEST_F(GuiFixture, ACodecEntryReadsItsRegistersAndSetsUpTheConsoleUnderItsOwnName) {
    for (const auto& [entry, read, banner, type, title] :
         {std::tuple{"KV1120", Record{0x01, 0x00, 0x00, 0x4C}, "KV1120", 1120, "KV1120 Evaluation"},
          {"KV2220", Record{0x01, 0x00, 0x01, 0x00}, "KV2220", 2215, "KV2210S Evaluation"},
          {"Corvane", Record{0x01, 0x00, 0x01, 0x00}, "CORVANE", 8888, "Corvane Evaluation"}}) {
        markFrames();
        triggerMenu(entry);
        expectSent({read, read});
        EXPECT_TRUE(consoleText().startsWith(QString("..............................Codec Type:") + banner +
                                             "..............................\n"));
        settle();
        EXPECT_EQ(evb::Board().CodecType, type);
        EXPECT_TRUE(con->isVisible());
        EXPECT_EQ(con->windowTitle(), title);
        if (type != 1120) continue;
        EXPECT_TRUE(consoleHas("ReadAllReg:   Reg0x00~Reg0x4C\n"));
        EXPECT_EQ(con->RegFrm->title(), "KV1120 Register Map");
        EXPECT_EQ(con->RegMapGrid->rowCount(), 6);
        EXPECT_EQ(con->RegMapGrid->columnWidth(3), 45);
        EXPECT_EQ(shownPresets(con), "A1 A2 A3 A4 A5 A6 A7 A8 A9 B1 B2 C1 C2 C3");
        expectEnabled({"DVDD2", "DVDD2P5", "DVDD3P3", "PLLCMD", "PLL_USE_CHK", "SDP3Group", "SDP3_MS"}, false);
        expectEnabled({"SDP1Group", "SDP1_MS", "SDP1_SLV", "SDP2Group", "SDP2_MS", "SDP2_SLV"}, true);
    }
    expectEnabled({"SDP3Group", "SDP3_MS", "SDP3_SLV", "DVDD2", "PLLCMD", "PLL_USE_CHK"}, true);
    EXPECT_EQ(cell(0, 9) + cell(0, 16), "  0x80  0xF0"); // grown back from KV1120's six rows
    EXPECT_EQ(preset("ButtonC1")->text(), "AutoPress Button");

    chooseCodec("KV2330");
    EXPECT_EQ(con->RegMapGrid->rowCount(), 5);
    EXPECT_EQ(shownPresets(con), "A1 A2 A3 A4 A6 B1 B2 B3");
    EXPECT_EQ(preset("ButtonA6")->geometry(), QRect(8, 480, 241, 33));
    EXPECT_EQ(preset("ButtonA2")->text(), "Record form LIN1 && RIN1");

    struct Case {
        void (Tmainfrm::*handler)();
        bool sdp2Group, sdp3Group;
        const char* title;
    };
    for (const Case& c : {Case{&Tmainfrm::KV2910Click, true, true, "KV2330 Evaluation"},
                          Case{&Tmainfrm::KV2920Click, false, false, "KV2330 Evaluation"},
                          Case{&Tmainfrm::KV2930Click, true, false, "KV2930 Evaluation"}}) {
        find<QGroupBox>("DvddGroup")->setEnabled(false);
        (app->main.get()->*c.handler)();
        settle();
        EXPECT_EQ(find<QWidget>("SDP2Group")->isEnabled(), c.sdp2Group);
        EXPECT_EQ(find<QWidget>("SDP3Group")->isEnabled(), c.sdp3Group);
        expectEnabled({"DvddGroup", "DVDD3P3"}, true);
        expectEnabled({"SDP3_SLV"}, false);
        EXPECT_EQ(con->windowTitle(), c.title);
    }
}

// --- tools menu, About and MATLAB windows -----------------------------------------------------

class ToolsTest : public GuiFixture {
  protected:
    void SetUp() override {
        GuiFixture::SetUp();
        evb::SetShellOpenHook([this](const QUrl& url) { opened << url; });
        // No shipped copies of the documents: the bare names resolve in the working folder.
        evb::SetPresetSearchRoots({nowhere.path().toStdString()});
    }
    void TearDown() override {
        evb::SetShellOpenHook(nullptr);
        GuiFixture::TearDown();
    }
    QList<QUrl> opened;
    QTemporaryDir nowhere;
};

// The tool entries open their files in the working folder and send nothing; the About and
// MATLAB windows open from the menu, open their link, and hide on OK.
TEST_F(ToolsTest, ToolEntriesOpenTheirFilesAndTheAboutAndMatlabWindowsTheirLink) {
    for (const char* entry : {"CorvaneEQ", "EQ Instruction", "EVB Instruction"})
        triggerMenu(entry);
    const QList<QUrl> expected{QUrl::fromLocalFile(QDir::current().absoluteFilePath("CorvaneEQ.exe")),
                               QUrl::fromLocalFile(QDir::current().absoluteFilePath("CorvaneEQ.PNG")),
                               QUrl::fromLocalFile(QDir::current().absoluteFilePath("Corvane EvbSoftware user manual.pdf"))};
    EXPECT_EQ(opened, expected);
    EXPECT_EQ(sentSinceMark(), 0u);
    for (const QString window : {"Form6", "Form1"}) {
        SCOPED_TRACE(window.toStdString());
        opened.clear();
        triggerMenu(window == "Form6" ? "VersionV221" : "Matlab Instruction");
        ASSERT_TRUE(find<QWidget>(window)->isVisible());
        click(window + "/Label5");
        ASSERT_EQ(opened.size(), 1);
        EXPECT_EQ(opened[0].scheme(), "https");
        EXPECT_TRUE(find<QWidget>(window)->isVisible());
        click(window + "/Button1");
        EXPECT_FALSE(find<QWidget>(window)->isVisible());
    }
}
