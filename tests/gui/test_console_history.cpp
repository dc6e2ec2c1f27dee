// The register console's write history against the simulated board: undo and redo.
#include "tests/gui/support/GuiHarness.h"

#include "protocol/RegisterMap.h"
#include "windows/TRegisterWatchFrm.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSpinBox>
#include <QPushButton>

// Undo writes back what the board held before, the preset as one step; redo writes again.
// Each goes out as single writes with the console lines of "Write Register".
TEST_F(GuiFixture, UndoOfAWriteAndOfAPresetWritesBackTheEarlierValues) {
    evb::SetPresetSearchRoots({files.path().toStdString()});
    for (const char* file : {"KV2440/KV2440_Reset.TXT", "KV2440/KV2440_Standby.TXT"})
        writeFile(file, ":W0111@\r\n:W0222@\r\n:W0133@\r\n");
    for (const auto& [reg, value] : {std::pair{0x01, 0xA1}, {0x02, 0xA2}, {0x1A, 0x5C}})
        board->SetRegister(kChip, static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value));
    chooseCodec("KV2440"); // reads every register
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    typeText("kv2580mfrm/RegDatTxt", "0x80");
    click("kv2580mfrm/WRRegCMD");
    click("kv2580mfrm/ButtonB1");
    settle();
    markFrames();
    EXPECT_TRUE(con->RegMapMenu->actions().contains(con->UndoAction));
    EXPECT_EQ(con->UndoAction->text(), "Undo Preset B1");
    triggerMenu("UndoAction");
    expectSent({{0x00, 0x02, 0xA2}, {0x00, 0x01, 0xA1}});
    EXPECT_TRUE(consoleText().endsWith("WriteReg:   Reg0x02 = 0xA2\nWriteReg:   Reg0x01 = 0xA1\n"));
    EXPECT_EQ(con->UndoAction->text(), "Undo Write Reg0x1A = 0x80");
    triggerMenu("UndoAction");
    expectSent({{0x00, 0x1A, 0x5C}});
    EXPECT_EQ(cell(11, 2), "  0x5C");
    EXPECT_EQ(con->RedoAction->text(), "Redo Write Reg0x1A = 0x80");
    triggerMenu("RedoAction");
    triggerMenu("RedoAction");
    expectSent({{0x00, 0x1A, 0x80}, {0x00, 0x01, 0x11}, {0x00, 0x02, 0x22}, {0x00, 0x01, 0x33}});
    ASSERT_TRUE(board->WaitForFrames(board->FrameCount(), 1s));
    EXPECT_EQ(board->Register(kChip, 0x01), 0x33);
}

// After another chip address nothing is known of the registers: a write cannot be undone.
TEST_F(GuiFixture, AWriteWhoseEarlierValueWasNeverKnownCannotBeUndone) {
    chooseCodec("KV2440");
    click("mainfrm/Refresh");
    settle();
    typeText("kv2580mfrm/RegAddrTxt", "0x10");
    typeText("kv2580mfrm/RegDatTxt", "0x05");
    click("kv2580mfrm/WRRegCMD");
    markFrames();
    EXPECT_EQ(con->UndoAction->text(), "Can't Undo Write Reg0x10 = 0x05 (earlier value of Reg0x10 not known)");
    EXPECT_FALSE(con->UndoAction->isEnabled());
    con->UndoClick();
    EXPECT_EQ(sentSinceMark(), 0u);
}

// A recording of a write, a field edit and a preset, saved and sent back with "Send
// Configuration": the board gets the same register writes and delays, in the same order.
TEST_F(GuiFixture, ARecordingSavedAndSentBackWritesTheSameRegistersInOrder) {
    evb::SetPresetSearchRoots({files.path().toStdString()});
    writeFile("KV2440/KV2440_Reset.TXT", ":W0111@\r\n:W0222@\r\n:D0005@\r\n");
    con->UseStartupRegisterMap(QString::fromStdString(writeFile("codec.regmap.json", R"({ "format": "evbconsole-regmap-1",
        "chip": "T", "registers": [ { "address": "0x1A", "name": "ADC_VOL_L", "fields": [ { "name": "VOL", "bits": "6:0" }, { "name": "MUTE", "bits": "7" } ] } ] })")));
    chooseCodec("KV2440");
    triggerMenu("RecordAction");
    EXPECT_TRUE(con->RecordingLabel->isVisible());
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    typeText("kv2580mfrm/RegDatTxt", "0x05");
    click("kv2580mfrm/WRRegCMD");
    ASSERT_TRUE(con->FindRegister("ADC_VOL_L"));
    ClickNow(find<QCheckBox>("kv2580mfrm/FieldMUTE"));
    EXPECT_EQ(con->UndoAction->text(), "Undo Field Edit ADC_VOL_L.MUTE[7] = 1");
    click("kv2580mfrm/ButtonB4");
    settle();
    expectSent({{0x00, 0x1A, 0x05}, {0x00, 0x1A, 0x85}, {0x04, 0x00, 0x01}, {0x05, 0x00, 0x01, 0x11},
                {0x05, 0x00, 0x02, 0x22}, {0x05, 0x07, 0x00, 0x05}, {0x06}});
    triggerMenu("RecordAction");
    EXPECT_FALSE(con->RecordingLabel->isVisible());
    EXPECT_TRUE(consoleText().endsWith("Record Writes: off, 4 writes recorded\n"));
    const QString path = files.filePath("rec.txt");
    con->saveRecordingDialog = [path] { return path; };
    triggerMenu("SaveRecordingAction");
    EXPECT_TRUE(consoleText().endsWith("Save Recording: 4 writes saved to " + path + "\n"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = file.readAll();
    EXPECT_TRUE(text.contains(QRegularExpression(R"(^:W1A05@ ADC_VOL_L = 0x05 \(\d\d:\d\d:\d\d\.\d\d\d, Write Register\)\r\n)"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression(R"(\n:W1A85@ ADC_VOL_L = 0x85 \([0-9:.]+, Field Edit\)\r\n:W0111@ Reg0x01 = 0x11 \([0-9:.]+, Preset B4\))")));
    load({path});
    click("kv2580mfrm/SDFileCMD");
    expectSent({{0x04, 0x00, 0x01}, {0x05, 0x00, 0x1A, 0x05}, {0x05, 0x00, 0x1A, 0x85}, {0x05, 0x00, 0x01, 0x11},
                {0x05, 0x00, 0x02, 0x22}, {0x05, 0x07, 0x00, 0x05}, {0x06}});
    EXPECT_FALSE(consoleHas("warning")) << consoleText().toStdString();
}

// The watch polls between the user's commands: a read clicked meanwhile shows its own value
// every time. Registers of a map are watched by name and field; nothing is polled while the
// window is paused or closed.
TEST_F(GuiFixture, WatchPollingNeverMixesWithAUsersReadAndStopsWithTheWindow) {
    chooseCodec("KV2440");
    for (const auto& [reg, value] : {std::pair{0x10, 0x11}, {0x11, 0x22}})
        board->SetRegister(kChip, static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value));
    EXPECT_FALSE(WaitUntil([&] { return sentSinceMark() > 0; }, 600ms)) << "nothing is polled without a watch";
    evb::CurrentSession()->linkNames = std::make_shared<const evb::RegisterMap>(
        "KV2440", std::vector<evb::RegisterInfo>{{0x11, "STATUS", "", evb::RegisterAccess::ReadOnly, 0, false,
                                                  {{"LEVEL", "", 5, 4, {}}}}});
    con->RegMapGrid->setCurrentCell(2, 1); // register 0x10
    triggerMenu("WatchRegisterAction");
    auto* watch = find<TRegisterWatchFrm>("RegisterWatchFrm");
    ASSERT_TRUE(watch && watch->isVisible());
    EXPECT_FALSE(watch->addWatch("STATUS.NONE"));
    EXPECT_FALSE(watch->addWatch("zz"));
    ASSERT_TRUE(watch->addWatch("STATUS.LEVEL"));
    watch->WatchIntervalSpin->setValue(100); // no faster than the link allows
    EXPECT_GT(watch->intervalMs(), 100);
    ASSERT_TRUE(WaitUntil([&] { return watch->WatchList->item(1, 2)->text() == "LEVEL[5:4] = 2"; }));
    EXPECT_EQ(watch->WatchList->item(0, 1)->text(), "0x11");
    for (int i = 0; i < 6; ++i) {
        board->SetRegister(kChip, 0x1A, static_cast<std::uint8_t>(0x50 + i));
        typeText("kv2580mfrm/RegAddrTxt", "0x1A");
        click("kv2580mfrm/RDRegCMD");
        ASSERT_TRUE(waitConsole(QString("ReadReg:   Reg0x1A = 0x5%1\n").arg(i)));
        EXPECT_TRUE(consoleText().endsWith(QString("ReadReg:   Reg0x1A = 0x5%1\n").arg(i))) << consoleText().toStdString();
    }
    EXPECT_TRUE(QString::fromStdString(watch->historyCsv()).contains(QRegularExpression("\n[0-9.]+,STATUS.LEVEL\\[5:4\\],2\n")));
    const QString csv = files.filePath("watch.csv");
    watch->exportDialog = [csv] { return csv; };
    watch->WatchExportCMD->click();
    EXPECT_TRUE(QFile::exists(csv));
    watch->WatchPauseCMD->click();
    EXPECT_FALSE(watch->polling());
    watch->WatchClearCMD->click();
    EXPECT_EQ(watch->historyCsv(), "time_s,watch,value\n");
    watch->WatchPauseCMD->click();
    watch->WatchList->selectRow(0);
    watch->WatchRemoveCMD->click();
    EXPECT_EQ(watch->WatchList->rowCount(), 1);
    watch->close();
    settle();
    markFrames();
    EXPECT_FALSE(WaitUntil([&] { return sentSinceMark() > 0; }, 600ms)) << "nothing is polled with the watch closed";
}
