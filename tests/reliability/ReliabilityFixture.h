#pragma once
// The program's windows against the fixture's own simulated board, published under a stable
// link (like /dev/serial/by-id/...), so that a board that hung up can come back under the same
// name and be opened again with "Refresh".

#include "ProcessProbe.h"

#include "serial/TRkCommDevice.h"
#include "tests/gui/support/GuiHarness.h"
#include "windows/Twarnfrm.h"

#include <QLineEdit>
#include <QMessageBox>

class LinkedBoardFixture : public GuiFixture {
  public:
    LinkedBoardFixture() { linkedBoard = true; }
};
