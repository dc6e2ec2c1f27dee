#pragma once
// Shared fixture of the register-console GUI tests: the program's windows against the simulated
// board, plus helpers to let the board's answers arrive and to read the grid.

#include "app/ReplyHandoff.h"
#include "console/ChipProfiles.h"
#include "console/PresetFiles.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "tests/gui/support/GuiHarness.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include <array>
#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

using namespace std::chrono_literals;

constexpr std::uint8_t kChip = 0x20; // the codec address "Refresh" and start-up use

class ConsoleFixture : public GuiFixture {
  protected:
    void SetUp() override {
        // Events a previous test's window never received would otherwise stay counted.
        evb::ReplyHandoff().queued.store(0);
        evb::ReplyHandoff().finished.store(0);
        GuiFixture::SetUp();
        evb::gRegs = evb::RegisterState{};
        evb::SetPresetSearchRoots({});
        con = app->main->RegisterConsole();
        ASSERT_NE(con, nullptr);
    }
    void TearDown() override {
        evb::SetPresetSearchRoots({});
        GuiFixture::TearDown();
    }

    void settle() { settleReplies(400ms, 10s); }

    void chooseCodec(const QString& entry) {
        triggerMenu(entry);
        settle();
        markFrames();
    }

    QString cell(int col, int row) const { return con->cellText(col, row); }
    QPushButton* preset(const char* name) const { return con->findChild<QPushButton*>(name); }

    // True when the frame's record starts with these bytes and every other byte is 0.
    static ::testing::AssertionResult recordIs(const evbsim::ReceivedFrame& frame,
                                               std::initializer_list<int> head) {
        std::array<std::uint8_t, 18> expected{};
        std::size_t i = 0;
        for (int b : head)
            expected[i++] = static_cast<std::uint8_t>(b);
        if (frame.record == expected) return ::testing::AssertionSuccess();
        std::string got;
        for (std::uint8_t b : frame.record)
            got += evbHex(b) + " ";
        return ::testing::AssertionFailure() << "record " << got;
    }
    static std::string evbHex(std::uint8_t b) {
        static const char* digits = "0123456789ABCDEF";
        return {digits[b >> 4], digits[b & 15]};
    }

    bool consoleHas(const QString& text) const { return consoleText().contains(text); }
    bool waitConsole(const QString& text) {
        return WaitUntil([&] { return consoleHas(text); }, 5s);
    }

    Tkv2580mfrm* con = nullptr;
};
