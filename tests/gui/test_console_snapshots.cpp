// Register snapshots in the register console: save, compare, restore and marked changes,
// against the simulated board through a real pseudo-terminal.
#include "test_console_fixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include <filesystem>

namespace {

class SnapshotFixture : public ConsoleFixture {
  protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        chooseCodec("KV2440"); // all 256 registers
        file = QString::fromStdString(
            (std::filesystem::temp_directory_path() / ("snap-" + std::to_string(::getpid()) + ".txt")).string());
        con->saveRegsDialog = [this] { return file; };
        con->openRegsDialog = [this] { return file; };
    }
    void TearDown() override {
        std::filesystem::remove(file.toStdString());
        ConsoleFixture::TearDown();
    }
    QString hex(int v) const { return QString::fromStdString(evbHex(static_cast<std::uint8_t>(v))); }
    QString file;
};

} // namespace

TEST_F(SnapshotFixture, SavedRegistersLoadCleanThenCompareAndRestoreOnlyWhatDiffers) {
    // The actions are found in the grid's context menu.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(10, 10), QPoint(10, 10));
    QApplication::sendEvent(con->RegMapGrid->viewport(), &menuKey);
    ASSERT_TRUE(WaitUntil([&] { return con->RegMapMenu->isVisible(); }));
    EXPECT_TRUE(con->RegMapMenu->actions().contains(con->SaveRegsAction));
    con->RegMapMenu->hide();

    con->SaveRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Save Registers: 256 registers saved to " + file + "\n")) << consoleText().toStdString();
    con->opfcmd = [this] { return QStringList{file}; };
    const QString before = consoleText();
    click("kv2580mfrm/LDFileCMD");
    EXPECT_EQ(consoleText().mid(before.size()), "Load Confuguration File\xEF\xBC\x9A\n");

    const std::uint8_t was1A = board->Register(kChip, 0x1A), was40 = board->Register(kChip, 0x40);
    board->SetRegister(kChip, 0x1A, was1A ^ 0xFF);
    board->SetRegister(kChip, 0x40, was40 ^ 0x0F);
    con->CompareRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Compare with File: 2 of 256 registers differ from " + file + "\n"));
    EXPECT_TRUE(consoleHas("Reg0x1A: board 0x" + hex(was1A ^ 0xFF) + ", file 0x" + hex(was1A) + "\n"));
    EXPECT_EQ(con->cellMark(0x1A), "file 0x" + hex(was1A));
    EXPECT_EQ(con->RegMapGrid->item(2, 11)->data(Qt::AccessibleDescriptionRole).toString(), "file 0x" + hex(was1A));
    EXPECT_EQ(con->cellMark(0x1B), "");

    markFrames();
    con->RestoreRegsAction->trigger();
    ASSERT_TRUE(waitConsole("Restore from File: after writing, every register matches " + file));
    const auto frames = framesSinceMark(6);
    ASSERT_EQ(frames.size(), 6u); // read-all, begin, the two writes, end, read-all
    EXPECT_TRUE(recordIs(frames[2], {0x05, 0x00, 0x1A, was1A}));
    EXPECT_TRUE(recordIs(frames[3], {0x05, 0x00, 0x40, was40}));
    EXPECT_EQ(con->cellMark(0x1A), "");
}

TEST_F(SnapshotFixture, ChangedCellsAreMarkedAfterEachReadAllUntilCleared) {
    con->MarkChangesAction->trigger();
    click("kv2580mfrm/RdAllRegCMD");
    settle();
    const std::uint8_t was = board->Register(kChip, 0x05);
    board->SetRegister(kChip, 0x05, was ^ 0x01);
    click("kv2580mfrm/RdAllRegCMD");
    ASSERT_TRUE(WaitUntil([&] { return con->cellMark(0x05) == "was 0x" + hex(was); }));
    EXPECT_EQ(con->cellMark(0x06), "");
    click("kv2580mfrm/RdAllRegCMD"); // nothing changed since: the mark stays
    settle();
    EXPECT_EQ(con->cellMark(0x05), "was 0x" + hex(was));
    con->ClearMarksAction->trigger();
    EXPECT_EQ(con->cellMark(0x05), "");
}
