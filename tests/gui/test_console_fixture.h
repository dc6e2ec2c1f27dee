#pragma once
// The register console's tests: the windows' harness, with the console's grid and preset
// buttons at hand.

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

using namespace std::chrono_literals;

constexpr std::uint8_t kChip = 0x20; // the codec address "Refresh" and start-up use

class ConsoleFixture : public GuiFixture {
  protected:
    QString cell(int col, int row) const { return con->cellText(col, row); }
    QPushButton* preset(const char* name) const { return con->findChild<QPushButton*>(name); }
};
