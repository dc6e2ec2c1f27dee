// The main window against the simulated board: start-up, "Refresh", the clock, PLL, routing
// and S/PDIF switches, port selection, the console pane and the error box. Which frame a command
// builds is proved with the builders, the link monitor's rows with the reply hand-over; here:
// the control, the console line, the frame.
#include "tests/gui/support/GuiHarness.h"

#include "serial/TRkCommDevice.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/Twarnfrm.h"

#include <QFile>
#include <QLabel>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

namespace {

using MainWindowTest = GuiFixture;

const QString kStartBanner = "..............................Initialize the EVB Start..............................\n";
const QString kEndBanner = "..............................Initialize the EVB end..............................\n";
const QString kSpdifBanner = "..............................Set the SPDIF Mode..............................\n";

TEST_F(MainWindowTest, StartupLogsItsInitialisationShowsTheSpdifWindowAndSendsNothing) {
    EXPECT_EQ(consoleText(), kStartBanner + " Set RS232 PORT1 : " + QString::fromStdString(board->DevicePath()) + "\n" +
                                 " Set the COMM Mode:IIC Mode        Set the CHIP Address:0x20\n" + kSpdifBanner +
                                 " Mode:Master  Format:IIS   Resolution:24 Bits   MCLK/LRCK:256  SCLK/LRCK:64\n"
                                 " Set the MCLK:Use SPDIF DMCLK\n Set the SDP1:Spdif=>Codec\n"
                                 " Set the SDP2:Codec=>Spdif\n Set the SDP3:Spdif=>Codec\n" + kEndBanner);
    QStringList shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) shown << w->objectName();
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"SPDIFConfigFRM", "mainfrm"}));
    for (const char* name : {"Sel_SPDIF_DMCLK", "DVDD2", "SDP1_SLV", "SDP2_MS", "SDP3_SLV"})
        EXPECT_TRUE(find<QAbstractButton>(name)->isChecked()) << name;
    EXPECT_FALSE(find<QWidget>("SDP3Group")->isEnabled());
    EXPECT_EQ(evb::FramesSent(), sentBase);
}

// The controls send their frame, store the state and log it. "Refresh" then clears the console
// and sends the default set-up; the handlers of the controls that left their default run again,
// their frames in between.
TEST_F(MainWindowTest, ButtonsSendTheirFrameAndLogItAndRefreshUndoesWhatChanged) {
    struct Case {
        const char* button;
        std::vector<Record> frames;
        const char* line; // the console's end
    };
    for (const Case& c : {Case{"SDP2_SLV", {{0x02, 1, 1}}, " Set the SDP2:Spdif=>Codec\n"},
                          Case{"SDP1_MS", {{0x02, 0, 0}}, " Set the SDP1:Codec=>Spdif\n"},
                          Case{"Sel_SPDIF_AMCLK", {{0x0A, 3}}, " Set the MCLK:Use SPDIF AMCLK\n"},
                          Case{"Sel_SPDIF_DMCLK", {{0x0A, 0}}, " Set the MCLK:Use SPDIF DMCLK\n"},
                          Case{"Sel_SPDIF_DMCLK", {}, " Set the MCLK:Use SPDIF DMCLK\n"}, // already checked
                          Case{"Sel_OSC_CLK", {{0x0A, 1}}, " Set the MCLK:Use Oscillator Clock\n"},
                          Case{"SPDIF_TX_STOP", {{0x0C, 1}}, " SPDIF stop.........\n"},
                          Case{"SPDIF_TX_STOP", {{0x0C, 0}}, " SPDIF stop Release\n"},
                          Case{"SPDIF_RESET", {{0x09, 1}}, " SPDIF Reset.........\n"}}) {
        SCOPED_TRACE(c.button);
        click(c.button);
        expectSent(c.frames);
        EXPECT_TRUE(consoleText().endsWith(c.line)) << consoleText().right(100).toStdString();
    }
    EXPECT_EQ(evb::Board().SdpFlag, (std::array<std::uint8_t, 3>{0, 1, 1}));
    EXPECT_EQ(evb::Board().Spdif.stop * 10 + evb::Board().Spdif.reset, 1);
    const Record address{0x0D, 0x20}, dmclk{0x0A, 0x00}, sdp1{0x02, 0, 1}, sdp2{0x02, 1, 0}, sdp3{0x02, 2, 1};
    const QString modeLine = " Mode:Master Format:IIS   Resolution:24 Bits   MCLK/LRCK:256  SCLK/LRCK:64\n";
    click("Refresh");
    expectSent({address, {0x09, 0}, dmclk, sdp1, sdp2, dmclk, sdp1, sdp2, sdp3});
    EXPECT_EQ(consoleText(), kStartBanner + " Set RS232 PORT1 : " + board->DevicePath().c_str() +
                                 "\n Set the COMM Mode:IIC Mode        Set the CHIP Address:0x20\n"
                                 " SPDIF Reset Release\n" + kSpdifBanner + modeLine +
                                 " Set the MCLK:Use SPDIF DMCLK\n Set the SDP1:Spdif=>Codec\n"
                                 " Set the SDP2:Codec=>Spdif\n" + kEndBanner);
    EXPECT_FALSE(app->main->SpdifWindow()->isVisible());
    EXPECT_EQ(evb::Board().SdpFlag, (std::array<std::uint8_t, 3>{1, 0, 1}));
    // Nothing left its default now: only the set-up, no handler's line.
    click("Refresh");
    expectSent({address, dmclk, sdp1, sdp2, sdp3});
    EXPECT_TRUE(consoleText().endsWith(modeLine + kEndBanner)) << consoleText().toStdString();
}

// --- console pane ---

TEST_F(MainWindowTest, ClearingEmptiesThePaneAndTextReplacesTheSelectionKeepingTheCaretAfterIt) {
    click("ClrCMD");
    app->main->ConsoleAppend("first\r\nthird\r\n");
    QTextCursor cursor = app->main->UARTSHOW->textCursor();
    cursor.setPosition(6);                           // start of "third"
    cursor.setPosition(11, QTextCursor::KeepAnchor); // "third" selected
    app->main->UARTSHOW->setTextCursor(cursor);
    app->main->ConsoleAppend("second\r\n");
    app->main->ConsoleAppend("3rd");
    EXPECT_EQ(consoleText(), "first\nsecond\n3rd\n");
    EXPECT_EQ(app->main->UARTSHOW->textCursor().position(), 16);
    const QString path = files.filePath("console.txt");
    app->main->consoleSaveFile = [&] { return path; };
    app->main->UARTSHOWSaveAsClick();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), consoleText() + "\n");
}

// --- clock, supply and PLL ---

// The arithmetic and the supply byte are PllArithmetic's; here the button sends what they give.
TEST_F(MainWindowTest, PllConfigurationWritesTheSevenPllRegisters) {
    click("PLL_USE_CHK");
    click("DVDD2P5");
    typeText("mclktxt", "13");
    typeText("LRCKTXT", "48");
    markFrames();
    const QString before = consoleText();
    click("PLLCMD");
    expectSent({{0x00, 0x02, 0x81}, {0x00, 0x03, 0x04}, {0x00, 0x04, 0x07}, {0x00, 0x05, 0x17},
                {0x00, 0x06, 0xA3}, {0x00, 0x07, 0x2F}, {0x00, 0x02, 0x41}});
    EXPECT_EQ(consoleText(), before);
    typeText("mclktxt", "0");
    click("PLLCMD");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(consoleText().endsWith(" PLL Configuration: MCLK in MHz must be 1..100: 0; nothing sent\n"));
    typeText("mclktxt", "13");
    typeText("LRCKTXT", "4x8");
    click("PLLCMD");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(consoleText().endsWith(" PLL Configuration: LRCK in kHz must be 1..768: 4x8; nothing sent\n"));
    // With the PLL unused the values are stored and nothing is sent.
    click("PLL_USE_CHK");
    typeText("mclktxt", "abc");
    typeText("LRCKTXT", "");
    click("PLLCMD");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(evb::Board().PllN, 4);
}

// --- port selection, lost and unavailable ports ---

// A port that cannot be opened: the serial layer's message and the operating system's reason on
// a line of its own; then every command shows the warning window once, and its console line.
TEST_F(MainWindowTest, APortThatCannotBeOpenedShowsTheErrorAndCommandsThenWarnOnce) {
    typeText("RS232_CommPort", "five"); // no number: port 128
    click("setrs232cmd");
    EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT :COM128\n"));
    EXPECT_EQ(app->main->RS232.fGetPortName(), "COM128");
    const QString box = takeErrorBox();
    EXPECT_TRUE(box.contains("COM128")) << box.toStdString();
    EXPECT_EQ(box.count('\n'), 1) << box.toStdString();
    struct ShowCounter : QObject {
        int shows = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            shows += event->type() == QEvent::Show;
            return false;
        }
    } counter;
    Twarnfrm* warning = app->main->WarningWindow();
    warning->installEventFilter(&counter);
    markFrames();
    for (const char* button : {"SDP2_SLV", "Sel_OSC_CLK", "SPDIF_TX_STOP"})
        click(button);
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(counter.shows, 1);
    EXPECT_EQ(warning->Errlbl->text() + warning->Errlbl1->text(), "COM1 used by others Device!");
    EXPECT_TRUE(consoleText().endsWith(" Set the SDP2:Spdif=>Codec\n Set the MCLK:Use Oscillator Clock\n SPDIF stop.........\n"));
    click("warnfrm/Button1");
    EXPECT_FALSE(warning->isVisible());
}

TEST_F(MainWindowTest, ExitClosesTheMainWindowWhichEndsTheProgram) {
    // The S/PDIF window shown at start-up closes too. The program's own event loop must end; a
    // deadline ends it otherwise with code 1.
    QTimer::singleShot(0, qApp, [this] { triggerMenu("EXIT"); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(app->main->isVisible());
    EXPECT_FALSE(app->main->SpdifWindow()->isVisible());
}

} // namespace
