// The main window as assistive technology sees it: every control carries its own name and the
// title of the group it sits in (inner groups their own, not the outer group's), and Tab reaches
// every control in reading order.
#include "tests/gui/support/GuiHarness.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QRadioButton>

#include <map>

namespace {

struct Seen {
    QString name, group; // group: the title of the nearest enclosing group in the tree
    QStringList labelledBy;
};

// Walks the accessible tree below iface and records every widget by object name.
void walk(QAccessibleInterface* iface, const QString& group, std::map<QString, Seen>& seen) {
    if (!iface || !iface->object()) return;
    Seen s{iface->text(QAccessible::Name), group, {}};
    for (const auto& [other, relation] : iface->relations(QAccessible::Label))
        s.labelledBy << other->text(QAccessible::Name);
    seen[iface->object()->objectName()] = s;
    const QString inner = iface->role() == QAccessible::Grouping ? s.name : group;
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), inner, seen);
}

// In reading order: the controls of the main window that are enabled at start-up (SDP3 is not).
const struct {
    const char *object, *name, *group;
} kControls[] = {
    {"setrs232cmd", "Set RS232 Port\uFF1A", "Set RS232 (UART)"},
    {"RS232_CommPort", "RS232 port number or device", "Set RS232 (UART)"},
    {"Refresh", "Refresh", "Set RS232 (UART)"},
    {"SPDIF_RESET", "SPDIF Reset", "SPDIF Configuration"},
    {"SPDIF_TX_STOP", "SPDIF Stop", "SPDIF Configuration"},
    {"SetTXCMD", "SPDIF Configuration", "SPDIF Configuration"},
    {"setcodecI2C", "Set Codec IIC Address", "Codec I2C Address Setup"},
    {"Sel_OSC_CLK", "Use Oscillator Clock", "Select MCLK "},
    {"Sel_SPDIF_DMCLK", "Use SPDIF DMCLK", "Select MCLK "},
    {"Sel_SPDIF_AMCLK", "Use SPDIF AMCLK", "Select MCLK "},
    {"mclktxt", "MCLK = ", "Select MCLK "},
    {"LRCKTXT", "LRCK = ", "Set LRCK Frequency"},
    {"DVDD2", "DVDD <=2 .0V", "Select DVDD  Voltage"},
    {"DVDD2P5", "2.0V < DVDD <= 2.5V", "Select DVDD  Voltage"},
    {"DVDD3P3", "2.5V < DVDD <= 3.3V", "Select DVDD  Voltage"},
    {"PLL_USE_CHK", "PLL Used", "Setup MCLK &  PLL for Codec"},
    {"PLLCMD", "PLL Configuration", "Setup MCLK &  PLL for Codec"},
    {"SDP1_MS", "Codec=>Spdif", "SDP1 (I2S Port DAC)"},
    {"SDP1_SLV", "Spdif=>Codec", "SDP1 (I2S Port DAC)"},
    {"SDP2_MS", "Codec=>Spdif", "SDP2 (I2S Port ADC)"},
    {"SDP2_SLV", "Spdif=>Codec", "SDP2 (I2S Port ADC)"},
    {"UARTSHOW", "Console", ""},
    {"HEXSHOW", "Display in Hex", ""},
    {"ClrCMD", "Clear Display Area", ""},
    {"Image1", "Evaluation board: read the board information", ""},
};

class AccessibilityTest : public GuiFixture {};

TEST_F(AccessibilityTest, EveryControlIsNamedAndLabelledByItsOwnGroup) {
    std::map<QString, Seen> seen;
    for (QWidget* window : {static_cast<QWidget*>(app->main.get()), FindWidgetByName("SPDIFConfigFRM")})
        walk(QAccessible::queryAccessibleInterface(window), "", seen);
    for (const auto& c : kControls) {
        ASSERT_TRUE(seen.count(c.object)) << c.object << " is not in the accessible tree";
        const Seen& s = seen[c.object];
        EXPECT_EQ(s.name.toStdString(), c.name) << c.object;
        EXPECT_EQ(s.group.toStdString(), c.group) << c.object;
        QStringList groups = s.labelledBy; // a field's buddy label names it; the rest are groups
        if (s.name != c.group) groups.removeAll(s.name);
        EXPECT_EQ(groups.join(", ").toStdString(), c.group) << c.object;
    }
    // The inner groups: their own title, inside the outer group, labelled by nothing else.
    for (auto [object, title, outer] :
         {std::tuple{"MclkGroup", "Select MCLK ", "Setup MCLK &  PLL for Codec"},
          {"LrckGroup", "Set LRCK Frequency", "Setup MCLK &  PLL for Codec"},
          {"DvddGroup", "Select DVDD  Voltage", "Setup MCLK &  PLL for Codec"},
          {"SDP1Group", "SDP1 (I2S Port DAC)", "Set SDP SPDIF<=>Codec "},
          {"SDP2Group", "SDP2 (I2S Port ADC)", "Set SDP SPDIF<=>Codec "},
          {"SDP3Group", "SDP3 (I2S Port 3)", "Set SDP SPDIF<=>Codec "},
          {"GroupBox19", "Master/Slave", "Configuration(RX)"},
          {"GroupBox20", "MCLK/LRCK", "Configuration(RX)"}}) {
        EXPECT_EQ(seen[object].name.toStdString(), title);
        EXPECT_EQ(seen[object].group.toStdString(), outer) << object;
        EXPECT_EQ(seen[object].labelledBy.join(", ").toStdString(), "") << object;
    }
}

TEST_F(AccessibilityTest, TabVisitsEveryControlInReadingOrder) {
    QWidget* main = app->main.get();
    main->activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == main; }));
    FindWidgetByName("mainfrm/setrs232cmd")->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int i = 0; i < 60 && !visited.contains(QApplication::focusWidget()->objectName()); ++i) {
        visited << QApplication::focusWidget()->objectName();
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &tab);
    }
    // The radio buttons of one group are one Tab stop; the arrow keys move within the group.
    QStringList expected;
    QString radioGroup;
    for (const auto& c : kControls) {
        const bool radio = qobject_cast<QRadioButton*>(FindWidgetByName(QString("mainfrm/") + c.object));
        if (radio && radioGroup == c.group) continue;
        radioGroup = radio ? c.group : "";
        expected << c.object;
    }
    EXPECT_EQ(visited.join(" ").toStdString(), expected.join(" ").toStdString());
}

} // namespace
