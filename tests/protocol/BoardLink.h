#pragma once
// A simulated board and a board session whose device is opened on its pseudo-terminal, set up
// as the console sets up its port (time-out packages of 50 ms), and made this thread's current
// session for the lifetime of the object. It is the session's sink and records what the
// protocol layer tells the user (on the sending thread only).

#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "serial/TRkCommDevice.h"
#include "sim/SimBoard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;

class BoardLink : public evb::ISessionSink {
  public:
    // pace: the board takes bytes no faster than baud allows; outBufSize 0: the device's default.
    explicit BoardLink(bool pace = false, std::uint32_t baud = 19200, long outBufSize = 0)
        : board(evbsim::SimOptions{.baud = baud, .pace = pace}), session(this, {}), scope(session) {
        EXPECT_TRUE(board.Start());
        device.fSetPortName(board.DevicePath());
        device.fSetBaudRate(baud);
        device.fSetPackageSize(8192);
        device.fSetPackageType(TalonComm::cptFrameTimeout);
        device.fSetPackageInterval(50);
        device.fSetSyncEvents(false);
        device.fSetUsePackage(true);
        if (outBufSize > 0) device.fSetOutBufSize(outBufSize);
        device.fSetActive(true);
    }
    ~BoardLink() override {
        device.fSetActive(false);
        board.Stop();
    }

    void Wake(const evb::SessionWake&) override {}
    void ConsoleAppend(const std::string& text) override { console += text; }
    void ShowWarning(const std::string& line1, const std::string& line2) override {
        warnings.push_back(line1 + "|" + line2);
    }

    std::string console; // every line appended, in order
    std::vector<std::string> warnings;
    evbsim::SimBoard board;
    evb::BoardSession session; // its device is closed before the board goes
    evb::SessionScope scope;
    TalonComm::TRkCommDevice& device = session.Device();
};

// The records of the frames the board received, in order.
inline std::vector<std::array<std::uint8_t, 18>> Records(const evbsim::SimBoard& board) {
    std::vector<std::array<std::uint8_t, 18>> out;
    for (const auto& f : board.Frames())
        out.push_back(f.record);
    return out;
}

// Records from the hexadecimal leading bytes of each, separated by ';'.
inline std::vector<std::array<std::uint8_t, 18>> Recs(const std::string& text) {
    std::vector<std::array<std::uint8_t, 18>> out;
    std::istringstream records(text);
    for (std::string record; std::getline(records, record, ';');) {
        std::istringstream in(record);
        auto& r = out.emplace_back();
        unsigned b;
        for (std::size_t i = 0; in >> std::hex >> b; ++i)
            r.at(i) = static_cast<std::uint8_t>(b);
    }
    return out;
}

// A line repeated: the text of a file of many lines.
inline std::string Repeat(const std::string& line, int times) {
    std::string s;
    while (times-- > 0)
        s += line;
    return s;
}

