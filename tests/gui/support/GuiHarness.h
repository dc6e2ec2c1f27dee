#pragma once
// Test harness for the windows: a simulated board on a real pseudo-terminal, the program's
// windows created exactly as main creates them, and helpers that click widgets by object name
// and wait for conditions with a deadline (never a fixed sleep).

#include "app/AppSetup.h"
#include "sim/SimBoard.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

// Processes Qt events until pred() holds or the timeout passes. Returns pred()'s last value.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// A QApplication for the whole test executable (offscreen platform).
QApplication& TestApp();

class GuiFixture : public ::testing::Test {
protected:
    void SetUp() override;    // starts the board (unpaced) and the windows; the board's port is the one kept open
    void TearDown() override;

    template <class T> T* find(const QString& objectName) const;
    void click(const QString& objectName);           // a real mouse click on the widget
    void triggerMenu(const QString& actionText);     // a menu entry by its caption
    QString consoleText() const;                     // UARTSHOW as plain text ("\r\n" shown as "\n")
    // Frames the board received since the last mark, waiting up to timeout for at least n.
    std::vector<evbsim::ReceivedFrame> framesSinceMark(std::size_t n,
                                                       std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    void markFrames();

    std::unique_ptr<AppInstance> app;
    evbsim::SimBoard* board = nullptr;
    std::size_t frameMark = 0;
};
