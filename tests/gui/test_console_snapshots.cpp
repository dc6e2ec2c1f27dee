// Register snapshots in the register console: save, compare, restore and marked changes,
// against the simulated board through a real pseudo-terminal. The saved file's text (clean, one
// line per register) and the comparison's lines are proved with the snapshot functions.
#include "tests/gui/support/GuiHarness.h"

#include "protocol/NamedRegisters.h"
#include "protocol/TextConv.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>

namespace {

QString hex(int v) {
    return QString::fromStdString(evb::Hex2(static_cast<unsigned>(v & 0xFF)));
}

} // namespace

// The saved registers compare and restore only what differs; then, with "Mark changes", each
// read-all marks the cells that changed since the one before until the marks are cleared.
TEST_F(GuiFixture, SavedRegistersCompareAndRestoreOnlyWhatDiffersAndChangedCellsAreMarked) {
    chooseCodec("KV2440"); // all 256 registers
    const QString file = files.filePath("snapshot.txt");
    con->saveRegsDialog = [&] { return file; };
    QStringList titles;
    con->openRegsDialog = [&](const char* title) {
        titles << title;
        return file;
    };
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(10, 10), QPoint(10, 10));
    QApplication::sendEvent(con->RegMapGrid->viewport(), &menuKey);
    ASSERT_TRUE(WaitUntil([&] { return con->RegMapMenu->isVisible(); }));
    EXPECT_TRUE(con->RegMapMenu->actions().contains(con->SaveRegsAction));
    con->RegMapMenu->hide();

    con->SaveRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Save Registers: 256 registers saved to " + file + "\n")) << consoleText().toStdString();
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("@ MIX_L\r\n")) << "each register named in its line's comment";
    const int was1A = board->Register(kChip, 0x1A), was40 = board->Register(kChip, 0x40);
    const int was3C = board->Register(kChip, 0x3C); // the shipped map's volatile, read-only STATUS
    board->SetRegister(kChip, 0x1A, static_cast<std::uint8_t>(was1A ^ 0xFF));
    board->SetRegister(kChip, 0x40, static_cast<std::uint8_t>(was40 ^ 0x0F));
    board->SetRegister(kChip, 0x3C, static_cast<std::uint8_t>(was3C ^ 0x01));
    con->CompareRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Compare with File: 2 of 255 registers differ from " + file + "\n"));
    EXPECT_TRUE(consoleHas("Compare with File: 1 volatile register left out\n"));
    const evb::RegisterDiff d1A{0x1A, static_cast<std::uint8_t>(was1A ^ 0xFF), static_cast<std::uint8_t>(was1A)};
    EXPECT_TRUE(consoleHas(QString::fromStdString(evb::FormatRegisterDiff(d1A, con->registerMap()) + "\n")));
    EXPECT_TRUE(consoleHas("Reg0x1A MIX_L: board 0x" + hex(was1A ^ 0xFF))) << "named";
    EXPECT_TRUE(consoleHas("Reg0x40: board 0x" + hex(was40 ^ 0x0F) + ", file 0x" + hex(was40) + "\n")) << "no name";
    EXPECT_EQ(con->cellMark(0x1A), "file 0x" + hex(was1A));
    EXPECT_TRUE(con->RegMapGrid->item(2, 11)->data(Qt::AccessibleDescriptionRole).toString().startsWith("file 0x" + hex(was1A) + "\n0x1A MIX_L = 0x"));
    EXPECT_EQ(con->cellMark(0x1B), "");
    con->CompareVolatileChk->setChecked(true);
    con->CompareRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Compare with File: 3 of 256 registers differ from " + file + "\n"));

    markFrames();
    con->RestoreRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Restore from File: after writing, 1 of 256 registers differs from "));
    EXPECT_TRUE(consoleHas("Restore from File: read-only, not written: STATUS (0x3C)\n"));
    expectSent({{0x01, 0x00, 0x01, 0x00}, {0x04, 0x00, 0x01}, {0x05, 0x00, 0x1A, was1A}, {0x05, 0x00, 0x40, was40},
                {0x06}, {0x01, 0x00, 0x01, 0x00}});
    EXPECT_EQ(con->cellMark(0x1A), "");
    EXPECT_EQ(titles, QStringList({"Compare with File", "Compare with File", "Restore from File"}));

    con->MarkChangesAction->trigger();
    const int was = board->Register(kChip, 0x05);
    board->SetRegister(kChip, 0x05, static_cast<std::uint8_t>(was ^ 0x01));
    click("kv2580mfrm/RdAllRegCMD");
    ASSERT_TRUE(WaitUntil([&] { return con->cellMark(0x05) == "was 0x" + hex(was); }));
    EXPECT_EQ(con->cellMark(0x06), "");
    click("kv2580mfrm/RdAllRegCMD"); // nothing changed since: the mark stays
    settle();
    EXPECT_EQ(con->cellMark(0x05), "was 0x" + hex(was));
    con->ClearMarksAction->trigger();
    EXPECT_EQ(con->cellMark(0x05), "");
}
