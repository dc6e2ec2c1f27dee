// The main window against the simulated board: start-up, "Refresh", the clock, PLL, routing
// and S/PDIF switches, port selection, the console pane and the error box.
#include "tests/gui/support/GuiHarness.h"

#include "console/Tkv2580mfrm.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "serial/TRkCommDevice.h"
#include "windows/TForm1.h"
#include "windows/TForm6.h"
#include "windows/LinkLogModel.h"
#include "windows/TLinkMonitorFrm.h"
#include "windows/TRS232CfgFrm.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/TSetCodecComodeFrm.h"
#include "windows/Twarnfrm.h"

#include <QCheckBox>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Record = std::array<std::uint8_t, 18>;

Record rec(std::initializer_list<std::uint8_t> bytes) {
    Record r{};
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        r.at(i++) = b;
    return r;
}

std::vector<Record> records(const std::vector<evbsim::ReceivedFrame>& frames) {
    std::vector<Record> out;
    for (const auto& f : frames)
        out.push_back(f.record);
    return out;
}

std::string hex(const std::vector<Record>& recs) {
    std::string s;
    char buf[4];
    for (const auto& r : recs) {
        for (std::uint8_t b : r) {
            std::snprintf(buf, sizeof buf, "%02X ", b);
            s += buf;
        }
        s += "\n";
    }
    return s;
}

class MainWindowTest : public GuiFixture {
  protected:
    // The frames an action put on the wire: exactly `expected`, nothing more.
    void expectSent(const std::vector<Record>& expected) {
        const auto got = records(framesSinceMark(expected.size()));
        EXPECT_EQ(hex(got), hex(expected));
        EXPECT_EQ(sentSinceMark(), expected.size());
        markFrames();
    }
    QString portPath() const { return QString::fromStdString(board->DevicePath()); }
    bool portOpen() const { return app->main->RS232.fGetActive(); }
};

const QString kStartBanner =
    "..............................Initialize the EVB Start..............................\n";
const QString kEndBanner =
    "..............................Initialize the EVB end..............................\n";
const QString kSpdifBanner =
    "..............................Set the SPDIF Mode..............................\n";

// --- start-up ---

TEST_F(MainWindowTest, StartupLogsItsInitialisationAndSendsNothing) {
    const QString expected = kStartBanner + " Set RS232 PORT1 : " + portPath() + "\n" +
                             " Set the COMM Mode:IIC Mode        Set the CHIP Address:0x20\n" + kSpdifBanner +
                             " Mode:Master  Format:IIS   Resolution:24 Bits   MCLK/LRCK:256  SCLK/LRCK:64\n"
                             " Set the MCLK:Use SPDIF DMCLK\n"
                             " Set the SDP1:Spdif=>Codec\n"
                             " Set the SDP2:Codec=>Spdif\n"
                             " Set the SDP3:Spdif=>Codec\n" +
                             kEndBanner;
    EXPECT_EQ(consoleText(), expected);
    EXPECT_EQ(evb::FramesSent(), sentBase);
    markFrames();
    EXPECT_EQ(board->FrameCount(), 0u);
    EXPECT_TRUE(portOpen());
    EXPECT_EQ(evb::BoardReady, 255);
    EXPECT_EQ(evb::ExpectedReply, 0);
}

TEST_F(MainWindowTest, StartupLeavesTheSpecifiedControlsAndStateSet) {
    EXPECT_TRUE(find<QRadioButton>("Sel_SPDIF_DMCLK")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("DVDD2")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("SDP1_SLV")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("SDP2_MS")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("SDP3_SLV")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("SDP3_SLV")->isEnabled());
    EXPECT_FALSE(find<QWidget>("SDP3Group")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("PLL_USE_CHK")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("SPDIF_RESET")->isChecked());
    EXPECT_EQ(find<QLineEdit>("RS232_CommPort")->text(), "2");
    EXPECT_EQ(find<QLineEdit>("mclktxt")->text(), "13");
    EXPECT_EQ(find<QLineEdit>("LRCKTXT")->text(), "48");
    EXPECT_EQ(find<QLabel>("Label8")->text(), QString::fromUtf8("Version\uFF1A2.4.5.2    "));
    EXPECT_EQ(app->main->windowTitle(), "Corvane Audio CODEC Evaluation Software");
    EXPECT_EQ(evb::gBoard.SdpFlag, (std::array<std::uint8_t, 3>{1, 0, 1}));
    EXPECT_EQ(evb::gBoard.ChipAddress, 0x20);
    EXPECT_EQ(evb::gBoard.CommMode, 0);
    EXPECT_EQ(evb::gBoard.PllMclk, 13000000.0f);
    EXPECT_EQ(evb::gBoard.PllLrck, 48000.0f);
}

TEST_F(MainWindowTest, OnlyTheSpdifWindowIsShownBesideTheMainWindow) {
    QStringList shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) shown << w->objectName();
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"SPDIFConfigFRM", "mainfrm"}));
}

TEST_F(MainWindowTest, EveryOtherWindowIsCreatedHiddenOnceAndKeptForLaterUse) {
    const std::initializer_list<std::pair<QWidget* (*)(Tmainfrm&), const char*>> windows = {
        {[](Tmainfrm& m) -> QWidget* { return m.RegisterConsole(); }, "kv2580mfrm"},
        {[](Tmainfrm& m) -> QWidget* { return m.Rs232Window(); }, "RS232CfgFrm"},
        {[](Tmainfrm& m) -> QWidget* { return m.WarningWindow(); }, "warnfrm"},
        {[](Tmainfrm& m) -> QWidget* { return m.ControlInterfaceWindow(); }, "SetCodecComodeFrm"},
        {[](Tmainfrm& m) -> QWidget* { return m.AboutWindow(); }, "Form6"},
        {[](Tmainfrm& m) -> QWidget* { return m.MatlabWindow(); }, "Form1"},
    };
    markFrames();
    for (const auto& [get, name] : windows) {
        QWidget* w = get(*app->main);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->objectName(), name);
        EXPECT_FALSE(w->isVisible()) << name;
        EXPECT_EQ(get(*app->main), w) << name;
    }
    EXPECT_EQ(sentSinceMark(), 0u);
}

// --- Refresh ---

TEST_F(MainWindowTest, RefreshSendsExactlyTheFiveInitialisationFrames) {
    markFrames();
    click("Refresh");
    expectSent({rec({0x0D, 0x20}), rec({0x0A, 0x00}), rec({0x02, 0x00, 0x01}), rec({0x02, 0x01, 0x00}),
                rec({0x02, 0x02, 0x01})});
    // The console is cleared first; the S/PDIF line has one space after "Master"; no handler ran.
    const QString expected = kStartBanner + " Set RS232 PORT1 : " + portPath() + "\n" +
                             " Set the COMM Mode:IIC Mode        Set the CHIP Address:0x20\n" + kSpdifBanner +
                             " Mode:Master Format:IIS   Resolution:24 Bits   MCLK/LRCK:256  SCLK/LRCK:64\n" +
                             kEndBanner;
    EXPECT_EQ(consoleText(), expected);
    EXPECT_FALSE(app->main->SpdifWindow()->isVisible());
    EXPECT_TRUE(portOpen());
}

TEST_F(MainWindowTest, RefreshAfterSdp1CodecToSpdifSendsSdp1DirectionTwice) {
    markFrames();
    click("SDP1_MS");
    expectSent({rec({0x02, 0x00, 0x00})});
    EXPECT_EQ(evb::gBoard.SdpFlag[0], 0);
    click("Refresh");
    expectSent({rec({0x0D, 0x20}), rec({0x02, 0x00, 0x01}), rec({0x0A, 0x00}), rec({0x02, 0x00, 0x01}),
                rec({0x02, 0x01, 0x00}), rec({0x02, 0x02, 0x01})});
    EXPECT_TRUE(consoleText().contains(" Set the SDP1:Spdif=>Codec\n" + kEndBanner));
    EXPECT_EQ(evb::gBoard.SdpFlag[0], 1);
}

TEST_F(MainWindowTest, RefreshReleasesAnSpdifResetLeftTicked) {
    markFrames();
    click("SPDIF_RESET");
    expectSent({rec({0x09, 0x01})});
    EXPECT_TRUE(consoleText().endsWith(" SPDIF Reset.........\n"));
    click("Refresh");
    expectSent({rec({0x0D, 0x20}), rec({0x09, 0x00}), rec({0x0A, 0x00}), rec({0x02, 0x00, 0x01}),
                rec({0x02, 0x01, 0x00}), rec({0x02, 0x02, 0x01})});
    EXPECT_TRUE(consoleText().contains(" SPDIF Reset Release\n"));
    EXPECT_FALSE(find<QCheckBox>("SPDIF_RESET")->isChecked());
    EXPECT_EQ(evb::gBoard.Spdif.reset, 0);
}

TEST_F(MainWindowTest, RefreshAfterAnotherClockSourceRunsItsHandlerAgain) {
    markFrames();
    click("Sel_OSC_CLK");
    expectSent({rec({0x0A, 0x01})});
    click("Refresh");
    expectSent({rec({0x0D, 0x20}), rec({0x0A, 0x00}), rec({0x0A, 0x00}), rec({0x02, 0x00, 0x01}),
                rec({0x02, 0x01, 0x00}), rec({0x02, 0x02, 0x01})});
    EXPECT_TRUE(consoleText().contains(" Set the MCLK:Use SPDIF DMCLK\n"));
}

// --- console pane ---

TEST_F(MainWindowTest, ClearDisplayAreaEmptiesTheConsoleAndTheNextLineStartsAtTheTop) {
    click("ClrCMD");
    EXPECT_EQ(consoleText(), "");
    click("SDP2_SLV");
    EXPECT_EQ(consoleText(), " Set the SDP2:Spdif=>Codec\n");
}

TEST_F(MainWindowTest, ConsoleTextReplacesTheSelectionAndKeepsTheCaretAfterIt) {
    click("ClrCMD");
    app->main->ConsoleAppend("first\r\nthird\r\n");
    QTextEdit* console = app->main->UARTSHOW;
    QTextCursor cursor = console->textCursor();
    cursor.setPosition(6);                           // start of "third"
    cursor.setPosition(11, QTextCursor::KeepAnchor); // "third" selected
    console->setTextCursor(cursor);
    app->main->ConsoleAppend("second\r\n");
    app->main->ConsoleAppend("3rd");
    EXPECT_EQ(consoleText(), "first\nsecond\n3rd\n");
    EXPECT_EQ(console->textCursor().position(), 16);
}

// --- link monitor and the console pane's menu ---

// Rows of the Link Monitor as "DIR|bytes|meaning", once at least n are shown.
std::vector<std::string> monitorRows(TLinkMonitorFrm* monitor, std::size_t n) {
    LinkLogModel* m = monitor->model();
    WaitUntil([&] { return static_cast<std::size_t>(m->rowCount()) >= n; });
    std::vector<std::string> rows;
    for (int r = 0; r < m->rowCount(); ++r) {
        std::string row;
        for (int c = LinkLogModel::kDirection; c < LinkLogModel::kColumnCount; ++c)
            row += (c > LinkLogModel::kDirection ? "|" : "") + m->index(r, c).data().toString().toStdString();
        rows.push_back(row);
    }
    return rows;
}

TEST_F(MainWindowTest, LinkMonitorShowsTheFiveFramesOfRefreshInOrderAndSavesThem) {
    triggerMenu("Link Monitor");
    TLinkMonitorFrm* monitor = app->main->LinkMonitorWindow();
    ASSERT_TRUE(monitor->isVisible());
    click("LinkMonitorFrm/ShowRx");
    click("LinkMonitorFrm/ShowEvents");
    click("LinkMonitorFrm/ClearCMD");
    click("Refresh");
    const std::string z = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const std::vector<std::string> expected = {
        "TX|3A 0D 20 00" + z + " 40|ChipAddress 0x20",
        "TX|3A 0A 00 00" + z + " 40|MclkSource S/PDIF DMCLK",
        "TX|3A 02 00 01" + z + " 40|SdpDirection SDP1 Spdif=>Codec",
        "TX|3A 02 01 00" + z + " 40|SdpDirection SDP2 Codec=>Spdif",
        "TX|3A 02 02 01" + z + " 40|SdpDirection SDP3 Spdif=>Codec"};
    EXPECT_EQ(monitorRows(monitor, 5), expected);

    QTemporaryDir dir;
    const QString path = dir.filePath("link.txt");
    monitor->saveFile = [&] { return path; };
    click("LinkMonitorFrm/SaveCMD");
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines[0].startsWith("Link log saved " + QDate::currentDate().toString("yyyy-MM-dd")));
    EXPECT_TRUE(lines[1].endsWith(" TX 3A 0D 20 00" + QString::fromStdString(z) + " 40  ChipAddress 0x20"))
        << lines[1].toStdString();
}

TEST_F(MainWindowTest, AReadReplyArrivingAfterALaterCommandIsShownAsThatCommandReadsIt) {
    triggerMenu("Link Monitor");
    TLinkMonitorFrm* monitor = app->main->LinkMonitorWindow();
    click("LinkMonitorFrm/ShowTx");
    click("LinkMonitorFrm/ShowEvents");
    click("LinkMonitorFrm/ClearCMD");
    board->SetRegister(0x20, 0x05, 0x6B);
    board->DelayReplies(std::chrono::milliseconds(300));
    ASSERT_FALSE(evb::CmdReadReg(0x05));
    ASSERT_FALSE(evb::CmdBoardInfo()); // sent before the read's answer comes back
    // The read's byte leads the package (both answers come in one burst) and is read as the
    // board information record the last command asked for.
    const auto rows = monitorRows(monitor, 1);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].substr(0, 6), "RX|6B ") << rows[0];
    EXPECT_TRUE(QString::fromStdString(rows[0]).endsWith("|19 bytes, board information")) << rows[0];
}

TEST_F(MainWindowTest, ConsoleSaveAsWritesThePanesText) {
    app->main->ConsoleAppend("one\r\ntwo\r\n");
    QTemporaryDir dir;
    const QString path = dir.filePath("console.txt");
    app->main->consoleSaveFile = [&] { return path; };
    app->main->UARTSHOWSaveAsClick();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), consoleText() + "\n");
    EXPECT_EQ(app->main->UARTSHOW->contextMenuPolicy(), Qt::CustomContextMenu);
}

// --- clock, supply and PLL ---

struct ClockCase {
    const char* button;
    std::uint8_t source;
    const char* line;
};

TEST_F(MainWindowTest, ClockSourceButtonsSendTheirSourceAndLogIt) {
    for (const ClockCase& c : {ClockCase{"Sel_SPDIF_AMCLK", 3, " Set the MCLK:Use SPDIF AMCLK\n"},
                               ClockCase{"Sel_OSC_CLK", 1, " Set the MCLK:Use Oscillator Clock\n"},
                               ClockCase{"Sel_SPDIF_DMCLK", 0, " Set the MCLK:Use SPDIF DMCLK\n"}}) {
        SCOPED_TRACE(c.button);
        markFrames();
        click(c.button);
        expectSent({rec({0x0A, c.source})});
        EXPECT_TRUE(consoleText().endsWith(c.line));
    }
}

TEST_F(MainWindowTest, ClickingTheCheckedClockButtonAgainSendsNothing) {
    markFrames();
    click("Sel_SPDIF_DMCLK");
    EXPECT_EQ(sentSinceMark(), 0u);
}

struct PllCase {
    const char* mclk;
    const char* lrck;
    const char* supplyButton;
    std::uint8_t supplyByte;
    std::uint8_t n;
    std::array<std::uint8_t, 3> k;
};

TEST_F(MainWindowTest, PllConfigurationWritesTheSevenPllRegisters) {
    const PllCase cases[] = {
        {"13", "48", "DVDD2", 0x00, 7, {0x17, 0xA3, 0x2F}},
        {"24", "48", "DVDD2", 0x00, 8, {0x08, 0x13, 0xE0}},
        {"13", "48", "DVDD2P5", 0x04, 7, {0x17, 0xA3, 0x2F}},
        {"24", "48", "DVDD3P3", 0x08, 8, {0x08, 0x13, 0xE0}},
    };
    click("PLL_USE_CHK");
    EXPECT_EQ(evb::gBoard.PllUsed, 1);
    for (const PllCase& c : cases) {
        SCOPED_TRACE(std::string(c.mclk) + " MHz / " + c.lrck + " kHz / " + c.supplyButton);
        click(c.supplyButton);
        typeText("mclktxt", c.mclk);
        typeText("LRCKTXT", c.lrck);
        markFrames();
        const QString before = consoleText();
        click("PLLCMD");
        expectSent({rec({0x00, 0x02, 0x81}), rec({0x00, 0x03, c.supplyByte}), rec({0x00, 0x04, c.n}),
                    rec({0x00, 0x05, c.k[0]}), rec({0x00, 0x06, c.k[1]}), rec({0x00, 0x07, c.k[2]}),
                    rec({0x00, 0x02, 0x41})});
        EXPECT_EQ(consoleText(), before);
    }
    EXPECT_EQ(evb::gBoard.PllMclk, 12000000.0f); // 24 MHz is halved
    EXPECT_EQ(evb::gBoard.PllLrck, 48000.0f);
}

TEST_F(MainWindowTest, PllConfigurationWithPllUnusedStoresTheValuesAndSendsNothing) {
    typeText("mclktxt", "24");
    markFrames();
    click("PLLCMD");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(evb::gBoard.PllN, 8);
    EXPECT_EQ(evb::gBoard.PllK, (std::array<std::uint8_t, 3>{0x08, 0x13, 0xE0}));
}

TEST_F(MainWindowTest, PllConfigurationTakesTextThatIsNoNumberAs128) {
    click("PLL_USE_CHK");
    typeText("mclktxt", "abc"); // 128 MHz, halved to 64 MHz
    typeText("LRCKTXT", "");    // 128 kHz
    markFrames();
    click("PLLCMD");
    EXPECT_EQ(evb::gBoard.PllMclk, 64000000.0f);
    EXPECT_EQ(evb::gBoard.PllLrck, 128000.0f);
    // ratio 262144000 / 64000000 = 4.096
    const auto frames = records(framesSinceMark(7));
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(frames[2][2], 4);
}

TEST_F(MainWindowTest, PllConfigurationWithMclkZeroSendsNothingAndSaysWhy) {
    click("PLL_USE_CHK");
    typeText("mclktxt", "0");
    markFrames();
    click("PLLCMD");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(consoleText().endsWith(" PLL Configuration: MCLK 0 MHz gives no PLL ratio; nothing sent\n"));
}

// --- routing and S/PDIF switches ---

struct SdpCase {
    const char* button;
    std::uint8_t port;
    std::uint8_t dir;
    const char* line;
};

TEST_F(MainWindowTest, SdpButtonsSendTheirDirectionStoreTheFlagAndLogIt) {
    for (const SdpCase& c : {SdpCase{"SDP2_SLV", 1, 1, " Set the SDP2:Spdif=>Codec\n"},
                             SdpCase{"SDP2_MS", 1, 0, " Set the SDP2:Codec=>Spdif\n"},
                             SdpCase{"SDP1_MS", 0, 0, " Set the SDP1:Codec=>Spdif\n"},
                             SdpCase{"SDP1_SLV", 0, 1, " Set the SDP1:Spdif=>Codec\n"}}) {
        SCOPED_TRACE(c.button);
        markFrames();
        click(c.button);
        expectSent({rec({0x02, c.port, c.dir})});
        EXPECT_EQ(evb::gBoard.SdpFlag[c.port], c.dir);
        EXPECT_TRUE(consoleText().endsWith(c.line));
    }
}

TEST_F(MainWindowTest, DisabledSdp3ButtonsCannotBeClicked) {
    markFrames();
    click("SDP3_MS");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(find<QRadioButton>("SDP3_SLV")->isChecked());
}

TEST_F(MainWindowTest, SpdifStopTickedAndUntickedSendsStopAndRelease) {
    markFrames();
    click("SPDIF_TX_STOP");
    expectSent({rec({0x0C, 0x01})});
    EXPECT_EQ(evb::gBoard.Spdif.stop, 1);
    click("SPDIF_TX_STOP");
    expectSent({rec({0x0C, 0x00})});
    EXPECT_EQ(evb::gBoard.Spdif.stop, 0);
    EXPECT_TRUE(consoleText().endsWith(" SPDIF stop.........\n SPDIF stop Release\n"));
}

// --- port selection, lost and unavailable ports ---

TEST_F(MainWindowTest, SelectingTheBoardsDeviceByPathReopensItAt19200) {
    typeText("RS232_CommPort", portPath());
    click("setrs232cmd");
    EXPECT_EQ(errorBox(), nullptr);
    EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT :" + portPath() + "\n"));
    EXPECT_TRUE(portOpen());
    EXPECT_EQ(app->main->RS232.fGetBaudRate(), 19200u);
    EXPECT_EQ(app->main->RS232.fGetByteSize(), 8);
    EXPECT_TRUE(app->main->RS232.fGetUsePackage());
    markFrames();
    click("SDP2_SLV");
    expectSent({rec({0x02, 0x01, 0x01})});
}

TEST_F(MainWindowTest, SelectingAPortThatCannotBeOpenedShowsTheErrorAndLeavesThePortClosed) {
    typeText("RS232_CommPort", "200");
    click("setrs232cmd");
    EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT :COM200\n"));
    EXPECT_EQ(app->main->RS232.fGetPortName(), "COM200");
    QMessageBox* box = errorBox();
    ASSERT_NE(box, nullptr);
    // The serial layer's message, and the operating system's reason on a line of its own.
    EXPECT_TRUE(box->text().contains("COM200")) << box->text().toStdString();
    EXPECT_EQ(box->text().count('\n'), 1) << box->text().toStdString();
    EXPECT_FALSE(portOpen());
    closeErrorBoxes();

    // The program stays usable: a command now reports the closed port.
    markFrames();
    click("SDP2_SLV");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(app->main->WarningWindow()->isVisible());
    EXPECT_EQ(evb::ExpectedReply, 255);
}

TEST_F(MainWindowTest, PortTextThatIsNoNumberSelectsPort128) {
    typeText("RS232_CommPort", "five");
    click("setrs232cmd");
    EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT :COM128\n"));
    EXPECT_NE(errorBox(), nullptr);
}

// Counts how often a window is shown.
class ShowCounter : public QObject {
  public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) ++shows;
        return false;
    }
};

TEST_F(MainWindowTest, CommandsOnAClosedPortShowTheWarningWindowOnce) {
    Twarnfrm* warning = app->main->WarningWindow();
    ShowCounter counter;
    warning->installEventFilter(&counter);
    app->main->RS232.fSetActive(false);
    markFrames();
    click("SDP2_SLV");
    click("Sel_OSC_CLK");
    click("SPDIF_TX_STOP");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(counter.shows, 1);
    EXPECT_EQ(warning->Errlbl->text(), "COM1 used by others Device!");
    EXPECT_EQ(warning->Errlbl1->text(), "");
    // The console lines are added all the same.
    EXPECT_TRUE(consoleText().endsWith(" Set the SDP2:Spdif=>Codec\n Set the MCLK:Use Oscillator Clock\n"
                                       " SPDIF stop.........\n"));
    click("warnfrm/Button1");
    EXPECT_FALSE(warning->isVisible());
    warning->removeEventFilter(&counter);
}

TEST_F(MainWindowTest, ABoardThatHangsUpIsReportedAndCommandsThenWarn) {
    board->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return consoleText().contains("went away"); }));
    EXPECT_TRUE(
        consoleText().endsWith(" RS232 PORT " + portPath() +
                               " went away (device closed or unplugged); press \"Refresh\" to open it "
                               "again\n"));
    EXPECT_TRUE(WaitUntil([&] { return !portOpen(); }));
    click("SDP2_SLV");
    EXPECT_TRUE(app->main->WarningWindow()->isVisible());
}

// A board behind a stable device name (like /dev/serial/by-id/...) unplugged and plugged in
// again: the port opens again by itself, sends nothing on opening, and the next click reaches
// the board.
TEST_F(MainWindowTest, ABoardThatComesBackUnderTheSameNameIsOpenedAgainByItself) {
    app.reset();
    evbsim::SimOptions options;
    options.pace = false;
    auto replugged = std::make_unique<evbsim::SimBoard>(options);
    ASSERT_TRUE(replugged->Start());
    const std::string link = (sysRoot->path() + "/evb-board").toStdString();
    ASSERT_TRUE(replugged->Link(link));
    AppConfig config;
    config.start.extraPort = link;
    restartApp(config, replugged.get());
    ASSERT_TRUE(portOpen());

    board->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return consoleText().contains("went away"); }));
    ASSERT_TRUE(WaitUntil([&] { return !portOpen(); }));
    const QString before = consoleText();
    const std::uint64_t sentBefore = evb::FramesSent();
    ASSERT_TRUE(board->Reconnect());
    sentBase = evb::FramesSent();
    markFrames();
    ASSERT_TRUE(WaitUntil([&] { return portOpen(); }));
    EXPECT_TRUE(consoleText().endsWith(QString::fromStdString(" RS232 PORT " + link + " is open again\n")))
        << consoleText().toStdString();
    EXPECT_TRUE(consoleText().startsWith(before)) << "the console is not cleared";
    EXPECT_EQ(evb::FramesSent(), sentBefore) << "nothing is sent on reopening";
    EXPECT_EQ(framesSinceMark(1, std::chrono::milliseconds(200)).size(), 0u);
    click("SDP2_SLV");
    EXPECT_EQ(framesSinceMark(1).size(), 1u);
    EXPECT_EQ(errorBox(), nullptr);

    // Gone again, and the user chooses another port meanwhile: that choice stands.
    board->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !portOpen(); }));
    typeText("RS232_CommPort", "/nonexistent/ttyEVB");
    click("setrs232cmd");
    closeErrorBoxes();
    ASSERT_TRUE(board->Reconnect());
    EXPECT_FALSE(WaitUntil([&] { return portOpen(); }, std::chrono::milliseconds(300)));
    EXPECT_EQ(app->main->RS232.fGetPortName(), "/nonexistent/ttyEVB");
    app.reset(); // the program lets go of the port before the board goes
}

TEST_F(MainWindowTest, ExitClosesTheMainWindowWhichEndsTheProgram) {
    ASSERT_TRUE(app->main->SpdifWindow()->isVisible());
    // The program's own event loop must end; a deadline ends it otherwise with code 1.
    QTimer::singleShot(0, qApp, [this] { triggerMenu("EXIT"); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(app->main->isVisible());
    EXPECT_FALSE(app->main->SpdifWindow()->isVisible());
}

// A start-up whose port cannot be opened: the error box, and every command dropped.
TEST_F(MainWindowTest, StartupWithAPortThatCannotBeOpenedShowsTheErrorAndSendsNothing) {
    AppConfig config;
    config.simulate = true;
    config.simulatePace = false;
    config.start.extraPort = "/nonexistent/ttyEVB";
    restartApp(config);

    QMessageBox* box = errorBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("/nonexistent/ttyEVB")) << box->text().toStdString();
    // The rest of start-up was skipped: the board's port stayed closed and BoardReady 0.
    EXPECT_EQ(consoleText(), kStartBanner + " Set RS232 PORT1 : /nonexistent/ttyEVB\n");
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(evb::BoardReady, 0);
    closeErrorBoxes();
    click("SDP2_SLV");
    EXPECT_EQ(evb::FramesSent(), sentBase);
    EXPECT_FALSE(app->main->WarningWindow()->isVisible());
}

} // namespace
