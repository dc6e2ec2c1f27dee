#pragma once
// Test harness for the windows: a simulated board on a real pseudo-terminal, the program's
// windows created exactly as main creates them, and helpers that click widgets by object name
// and wait for conditions with a deadline (never a fixed sleep).

#include "app/AppSetup.h"
#include "console/ChipProfiles.h"
#include "console/PresetFiles.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/BoardState.h"
#include "sim/SimBoard.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

constexpr std::uint8_t kChip = 0x20; // the codec address "Refresh" and start-up use

// Processes Qt events until pred() holds or the timeout passes. Returns pred()'s last value.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// A configuration text of `count` register writes, ":Waavv@" with CR LF line ends as files made
// on Windows have; the register and value follow the line number.
std::string NumberedConfigLines(int count);

// The package events of the UI thread's board session (the main window's).
inline evb::ReplyCounters& ReplyHandoff() {
    return evb::CurrentSession()->Counters();
}

// A QApplication for the whole test executable (offscreen platform).
QApplication& TestApp();

// The widget (or window) with that object name: visible windows are searched first, so a name
// used in several windows means the one on screen; "window/child" names a child of one window
// (e.g. "warnfrm/Button1"). Null when there is none.
QWidget* FindWidgetByName(const QString& objectName);

// A real mouse click (press and release) that returns at once, whatever the click starts.
void ClickNow(QWidget* widget);

// The first bytes of a frame's 18-byte record; the bytes not given are 0.
using Record = std::vector<int>;

class GuiFixture : public ::testing::Test {
  protected:
    // Resets the program's global state, then starts the board and the windows: the board the
    // simulated start-up makes (unpaced), or with `linkedBoard` set (in the derived fixture's
    // constructor) the fixture's own board published under a stable link (like
    // /dev/serial/by-id/...), which can hang up and come back under the same name.
    void SetUp() override;
    void TearDown() override; // the program lets go of the port before the board goes
    // Closes the windows and starts them again as main does (on the linked board's link, or the
    // simulated board).
    void restartApp();

    template <class T> T* find(const QString& objectName) const {
        return qobject_cast<T*>(FindWidgetByName(objectName));
    }
    void click(const QString& objectName);       // a real mouse click; waits for a send it starts
    void triggerMenu(const QString& actionText); // a menu entry by its caption (or object name)
    void typeText(const QString& objectName, const QString& text); // replaces an edit field's text
    QString consoleText() const { return app->main->UARTSHOW->toPlainText(); } // "\r\n" shown as "\n"
    QString cell(int col, int row) const { return con->cellText(col, row); } // the register grid
    QPushButton* preset(const char* name) const { return con->findChild<QPushButton*>(name); }
    bool consoleHas(const QString& text) const { return consoleText().contains(text); }
    bool waitConsole(const QString& text) {
        return WaitUntil([&] { return consoleHas(text); });
    }
    bool portOpen() const { return app->main->RS232.fGetActive(); }
    QString warning() const; // the warning window's first line
    // The codec-type menu entry, once its block reads are answered; then marks.
    void chooseCodec(const QString& entry) {
        triggerMenu(entry);
        settle();
        markFrames();
    }
    // "Load Configuration File" with these files chosen in the dialog (none: cancelled).
    void load(const QStringList& chosen) {
        con->opfcmd = [chosen] { return chosen; };
        click("kv2580mfrm/LDFileCMD");
    }
    // Writes bytes as they are into the test's own folder (sub-folders made); returns the path.
    std::string writeFile(const std::string& name, const std::string& bytes);

    // Frames the board received since the last mark, waiting up to timeout for at least n.
    std::vector<evbsim::ReceivedFrame>
    framesSinceMark(std::size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Waits until the board has received every frame the program sent, then marks.
    void markFrames();
    // After a hang-up: frames sent to the board that went away never arrive, so counting starts
    // again from here.
    void forgetLostFrames() {
        sentBase = sentMark = evb::FramesSent();
        frameMark = board->FrameCount();
    }
    // Frames the program handed to the serial device since the last mark (exact, no waiting).
    std::uint64_t sentSinceMark() const { return evb::FramesSent() - sentMark; }
    // The frames since the mark are exactly these records (nothing more was sent); then marks.
    void expectSent(const std::vector<Record>& expected);
    static ::testing::AssertionResult recordIs(const evbsim::ReceivedFrame& frame, const Record& head);

    // The wait for the reply: every reply the board sent has been handed over to the UI thread
    // and decoded, and no new package was closed for 300 ms (the package layer closes one after
    // 50 ms of silence). Fails the test when that does not happen within 20 s.
    void settle();
    // Waits, processing no Qt event, until at least n packages were handed over to the UI thread
    // (their events wait in its queue). Up to 5 s.
    static bool waitHandedOver(int n);

    // The text of the error box the program shows for an exception of a handler ("" when none
    // is open); every such box is then closed.
    QString takeErrorBox();

    bool linkedBoard = false;
    bool pacedBoard = false; // the simulated board takes bytes no faster than 19200 baud allow
    std::unique_ptr<evbsim::SimBoard> ownBoard; // the linked board
    std::string linkPath;
    std::unique_ptr<AppInstance> app;
    evbsim::SimBoard* board = nullptr;
    Tkv2580mfrm* con = nullptr; // the register console window
    QTemporaryDir files;        // the test's own files; also an empty sysfs (no port but the board's)
    std::size_t frameMark = 0;
    std::uint64_t sentBase = 0; // evb::FramesSent() when this test's board started
    std::uint64_t sentMark = 0;
};
