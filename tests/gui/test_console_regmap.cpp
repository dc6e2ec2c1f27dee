// The register map in the register console, against the simulated board: the cells' tooltips
// and accessible descriptions, the access colours, "Find Register…", the field editor's writes,
// map files with errors and the configuration load's warnings. The decoding itself is proved
// with the map's own functions.
#include "tests/gui/support/GuiHarness.h"

#include "protocol/RegisterMap.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStringListModel>

namespace {

constexpr const char* kMap = R"({ "format": "evbconsole-regmap-1", "chip": "T", "registers": [
  { "address": "0x1A", "name": "ADC_VOL_L", "description": "Left ADC digital volume", "fields": [
    { "name": "VOL", "bits": "6:0", "description": "0.5 dB steps", "values": { "0x00": "mute", "0x7F": "0 dB" } },
    { "name": "MUTE", "bits": "7", "values": { "0": "off", "1": "on" } } ] },
  { "address": "0x20", "name": "CTRL", "access": "write-only", "reset": "0x30", "fields": [
    { "name": "GO", "bits": "0" }, { "name": "LEVEL", "bits": "7:4" } ] },
  { "address": "0x3C", "name": "STATUS", "access": "read-only", "volatile": true, "fields": [
    { "name": "LOCK", "bits": "0" } ] },
  { "address": "0x4B", "name": "GAIN", "description": "Output gain", "fields": [
    { "name": "DB", "bits": "5:2" } ] } ] }
)";

void key(QWidget* w, Qt::Key k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

} // namespace

// With a map, a cell tells its register and fields, on the accessibility bus too; find selects
// a cell; viewing sends nothing; a field edit writes only the field's bits, reading a register
// that was never read first; a read-only register cannot be edited.
TEST_F(GuiFixture, FieldEditsWriteOnlyTheFieldsBitsAndCellsDescribeTheirRegisters) {
    const QString map = QString::fromStdString(writeFile("codec.regmap.json", kMap));
    con->UseStartupRegisterMap(map); // as --regmap: the codec type keeps it
    board->SetRegister(kChip, 0x1A, 0x05);
    board->SetRegister(kChip, 0x4B, 0xC3);
    board->DropReplies(2); // the codec type's read-alls: no register is read
    chooseCodec("KV1120");
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    click("kv2580mfrm/RDRegCMD");
    settle();
    markFrames();
    ASSERT_NE(con->registerMap(), nullptr);
    EXPECT_EQ(con->registerMap()->chip(), "T");
    QTableWidgetItem* volume = con->RegMapGrid->item(2, 11);
    const QString described = "0x1A ADC_VOL_L = 0x05\nVOL[6:0] = 5\nMUTE[7] = off";
    EXPECT_EQ(volume->toolTip(), described);
    QAccessibleInterface* cell =
        QAccessible::queryAccessibleInterface(con->RegMapGrid)->tableInterface()->cellAt(2, 11);
    EXPECT_EQ(cell->text(QAccessible::Description), described);
    // Read-only and volatile cells are drawn apart, black on a light colour on any palette.
    QTableWidgetItem* status = con->RegMapGrid->item(4, 13);
    EXPECT_NE(status->background(), volume->background());
    EXPECT_EQ(status->foreground().color(), QColor(Qt::black));
    EXPECT_TRUE(status->font().italic());

    typeText("kv2580mfrm/FindRegTxt", "output");
    con->FindRegTxt->deselect();
    con->FindRegAction->trigger(); // Ctrl+F: to the find field, its text selected
    EXPECT_EQ(con->FindRegTxt->selectedText(), "output");
    key(con->FindRegTxt, Qt::Key_Return);
    EXPECT_EQ(con->RegMapGrid->currentRow() * 100 + con->RegMapGrid->currentColumn(), 5 * 100 + 12);
    EXPECT_EQ(con->fieldRegister(), 0x4B);
    EXPECT_EQ(sentSinceMark(), 0u) << "viewing sends nothing";

    auto* db = find<QSpinBox>("kv2580mfrm/FieldDB");
    ASSERT_NE(db, nullptr);
    board->DropReplies(1); // a read that goes unanswered writes nothing
    key(db, Qt::Key_Up);
    ASSERT_TRUE(waitConsole("Field edit: the board did not answer the read of Reg0x4B; nothing written\n"));
    EXPECT_EQ(db->value(), 0);
    markFrames();
    key(db, Qt::Key_Up); // from the shown 0 to 1; the other bits are the board's
    ASSERT_TRUE(waitConsole("WriteReg:   Reg0x4B = 0xC7\n"));
    expectSent({{0x01, 0x4B, 0x00, 0x01}, {0x00, 0x4B, 0xC7}});

    const QStringList offered = static_cast<QStringListModel*>(con->FindRegCompleter->model())->stringList();
    ASSERT_EQ(offered.size(), 4);
    ASSERT_TRUE(con->FindRegister(offered[0]))
        << offered[0].toStdString(); // "ADC_VOL_L — Left ADC digital volume"
    ClickNow(find<QCheckBox>("kv2580mfrm/FieldMUTE"));
    expectSent({{0x00, 0x1A, 0x85}});
    key(find<QComboBox>("kv2580mfrm/FieldVOL"), Qt::Key_Up); // "0 dB (127)"
    expectSent({{0x00, 0x1A, 0xFF}});
    EXPECT_EQ(board->Register(kChip, 0x1A), 0xFF);
    EXPECT_TRUE(find<QLabel>("kv2580mfrm/FieldRegLabel")
                    ->text()
                    .startsWith("0x1A ADC_VOL_L = 0xFF\nVOL[6:0] = 127 (0 dB)"));

    ASSERT_TRUE(con->FindRegister("CTRL"));
    ClickNow(find<QCheckBox>("kv2580mfrm/FieldGO")); // write-only: from its reset value, no read
    expectSent({{0x00, 0x20, 0x31}});

    ASSERT_TRUE(con->FindRegister("STATUS"));
    QWidget* lock = FindWidgetByName("kv2580mfrm/FieldLOCK");
    ASSERT_NE(lock, nullptr);
    EXPECT_FALSE(lock->isEnabled());
    ClickNow(lock);
    EXPECT_FALSE(con->FindRegister("nothing such"));
    EXPECT_TRUE(consoleHas("Find Register: no register matches nothing such\n"));
    EXPECT_EQ(sentSinceMark(), 0u);

    // The configuration load names a write the map forbids.
    load({QString::fromStdString(writeFile("status.txt", ":W3C01@\r\n"))});
    EXPECT_TRUE(consoleHas("status.txt:1: warning: write to 0x3C: STATUS is read-only; it is sent\n"));
}

// A map file with errors is refused whole, its errors named by line; the map in use stays.
TEST_F(GuiFixture, AMapWithErrorsIsRefusedWholeAndNamedByLine) {
    chooseCodec("KV2440");
    ASSERT_NE(con->registerMap(), nullptr);
    EXPECT_EQ(con->registerMap()->chip(), "KV2440");
    EXPECT_EQ(evb::CurrentSession()->linkNames.get(), con->registerMap()) << "the link log names registers";
    std::string bad = kMap;
    bad.replace(bad.find("\"6:0\""), 5, "\"9:0\"");
    const QString file = QString::fromStdString(writeFile("bad.regmap.json", bad));
    con->openMapDialog = [&] { return file; };
    con->LoadRegMapAction->trigger();
    EXPECT_TRUE(consoleHas(file + ":3: error: ")) << consoleText().toStdString();
    EXPECT_TRUE(consoleHas("Load Register Map: " + file + " has errors; the register map in use stays\n"));
    EXPECT_EQ(con->registerMap()->chip(), "KV2440");
    // A chip without a map: the console as it is without names.
    evb::SetPresetSearchRoots({files.path().toStdString()});
    chooseCodec("KV1120");
    EXPECT_EQ(con->registerMap(), nullptr);
    EXPECT_EQ(evb::CurrentSession()->linkNames, nullptr);
    EXPECT_FALSE(con->FieldPanel->isVisible() || con->FindRegAction->isEnabled());
    EXPECT_EQ(con->width(), 953);
    EXPECT_EQ(con->RegMapGrid->item(2, 11)->toolTip(), "");
}
