#pragma once
// Test harness for the windows: a simulated board on a real pseudo-terminal, the program's
// windows created exactly as main creates them, and helpers that click widgets by object name
// and wait for conditions with a deadline (never a fixed sleep).

#include "app/AppSetup.h"
#include "sim/SimBoard.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QMessageBox;

// Processes Qt events until pred() holds or the timeout passes. Returns pred()'s last value.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// A configuration text of `count` register writes, ":Waavv@" with CR LF line ends as files made
// on Windows have; the register and value follow the line number.
std::string NumberedConfigLines(int count);

// A QApplication for the whole test executable (offscreen platform).
QApplication& TestApp();

// The widget (or window) with that object name: visible windows are searched first, so a name
// used in several windows means the one on screen; "window/child" names a child of one window
// (e.g. "warnfrm/Button1"). Null when there is none.
QWidget* FindWidgetByName(const QString& objectName);

class GuiFixture : public ::testing::Test {
  protected:
    void
    SetUp() override; // starts the board (unpaced) and the windows; the board's port is the one kept open
    void TearDown() override;
    // Closes the windows and starts them again with `config` (its sysfs root set to the test's
    // own) as main does; `portBoard` is the board behind the port when it is not the simulated
    // board the config starts.
    void restartApp(AppConfig config, evbsim::SimBoard* portBoard = nullptr);

    template <class T> T* find(const QString& objectName) const;
    void click(const QString& objectName);       // a real mouse click on the widget
    void triggerMenu(const QString& actionText); // a menu entry by its caption (or object name)
    void typeText(const QString& objectName, const QString& text); // replaces an edit field's text
    QString consoleText() const; // UARTSHOW as plain text ("\r\n" shown as "\n")
    // Frames the board received since the last mark, waiting up to timeout for at least n.
    std::vector<evbsim::ReceivedFrame>
    framesSinceMark(std::size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Waits until the board has received every frame the program sent, then marks.
    void markFrames();
    // Waits until every reply the board sent has been handed over to the UI thread and decoded,
    // and no new package was closed for `quiet` (the package layer closes one after 50 ms of
    // silence). Fails the test when that does not happen within `timeout`.
    void settleReplies(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout);
    // Frames the program handed to the serial device since the last mark (exact, no waiting).
    std::uint64_t sentSinceMark() const;
    // The error box the program shows for an exception of a handler, when one is open.
    QMessageBox* errorBox() const;
    void closeErrorBoxes();

    std::unique_ptr<AppInstance> app;
    evbsim::SimBoard* board = nullptr;
    std::size_t frameMark = 0;
    std::uint64_t sentBase = 0; // evb::FramesSent() when this test's board started
    std::uint64_t sentMark = 0;
    std::unique_ptr<QTemporaryDir> sysRoot; // an empty sysfs: the board's port is the only one
};

template <class T> T* GuiFixture::find(const QString& objectName) const {
    return qobject_cast<T*>(FindWidgetByName(objectName));
}
