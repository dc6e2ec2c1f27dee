// The windows the main window opens: S/PDIF configuration, codec control interface and RS-232
// configuration, against the simulated board. The warning window is the port tests'.
#include "tests/gui/support/GuiHarness.h"

#include "windows/TRS232CfgFrm.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/TSetCodecComodeFrm.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

namespace {

class SmallWindowsTest : public GuiFixture {
  protected:
    bool checked(const char* name) { return find<QRadioButton>(name)->isChecked(); }
    TSPDIFConfigFRM* spdif() { return app->main->SpdifWindow(); }
    TSetCodecComodeFrm* codecWindow() { return app->main->ControlInterfaceWindow(); }
    // Clears the console, marks, and clicks: the frames and the console are the click's alone.
    void clickFresh(const char* name) {
        click("ClrCMD");
        markFrames();
        click(name);
    }
};

const QString kSpdifBanner = "..............................Set the SPDIF Mode..............................\n";
const Record kDirections[] = {{0x02, 0x00, 0x01}, {0x02, 0x01, 0x00}, {0x02, 0x02, 0x01}};

// --- S/PDIF configuration ---

// Confirm stores what it sends, so each step starts from what the one before stored.
TEST_F(SmallWindowsTest, SpdifConfirmSendsAndStoresTheChoicesWhichTheWindowReopensWith) {
    // As shown at start-up no button is checked: the slave branch, the stored values sent.
    clickFresh("ConfirmCMD");
    expectSent({{0x08, 0x00, 0x01, 0x01, 0x01, 0x40, 0x01, 0x01, 0x01, 0x40}, kDirections[0], kDirections[1], kDirections[2]});
    EXPECT_EQ(consoleText(), kSpdifBanner + " Mode:Slave  ");
    EXPECT_FALSE(spdif()->isVisible());

    click("SetTXCMD");
    EXPECT_TRUE(spdif()->isVisible());
    for (const char* name :
         {"SPDIF_SLAVE", "SPDIF_FMT_I2S", "SPDIF_FMT_B24", "SPDIF_LRC_256", "SPDIF_SCLK_64"})
        EXPECT_TRUE(checked(name)) << name;
    EXPECT_FALSE(spdif()->SPDIF_LRC_384->isVisible() || spdif()->SPDIF_LRC_512->isVisible() ||
                 spdif()->SPDIF_LRC_384->isEnabled());
    EXPECT_EQ(spdif()->SPDIF_LRC_256->y() * 100 + spdif()->SPDIF_LRC_128->y(), 3055) << "the ratios move up";
    click("SPDIF_MASTER");
    clickFresh("ConfirmCMD");
    expectSent({{0x08, 0x00, 0x00, 0x10, 0x01, 0x40, 0x01, 0x10, 0x01, 0x40}, kDirections[0], kDirections[1], kDirections[2]});
    EXPECT_EQ(consoleText(), kSpdifBanner + " Mode:Master   Format:IIS   Resolution:24 Bits   MCLK/LRCK:256   SCLK/LRCK:64\n");

    click("SDP2_SLV");
    click("SetTXCMD");
    EXPECT_TRUE(checked("SPDIF_MASTER"));
    for (const char* name : {"SPDIF_SLAVE", "SPDIF_FMT_RJ", "SPDIF_FMT_B20", "SPDIF_LRC_128", "SPDIF_SCLK_128"})
        click(name);
    clickFresh("ConfirmCMD");
    expectSent({{0x08, 0x00, 0x01, 0x20, 0x00, 0x80, 0x01, 0x20, 0x00, 0x80}, kDirections[0], {0x02, 0x01, 0x01}, kDirections[2]});
    EXPECT_EQ(consoleText(), kSpdifBanner + " Mode:Slave   Format:RJ   Resolution:20 Bits   MCLK/LRCK:128   SCLK/LRCK:128\n");
    EXPECT_EQ(evb::Board().Spdif.rx_resolution, 0x11); // stored, never sent
    EXPECT_EQ(evb::Board().Spdif.tx_resolution, 0x11);
    // Reopened: the stored format code 0x20 matches no button, which keep their state.
    click("SetTXCMD");
    for (const char* name : {"SPDIF_SLAVE", "SPDIF_FMT_RJ", "SPDIF_FMT_B20", "SPDIF_LRC_128"})
        EXPECT_TRUE(checked(name)) << name;
}

// --- codec control interface and RS-232 configuration ---

TEST_F(SmallWindowsTest, ControlWindowsOpenOnTheStateOkSendsModeAndAddressAndRS232ExitChangesNothing) {
    click("setcodecI2C");
    EXPECT_TRUE(codecWindow()->isVisible());
    EXPECT_TRUE(checked("CODEC_I2C_SEL") && checked("CODEC_ADDR_20H"));
    EXPECT_FALSE(find<QRadioButton>("CODEC_SPI_SEL")->isEnabled());
    EXPECT_EQ(find<QLineEdit>("ChipaddTxt")->text(), "0x20");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(evb::BoardReady, 255);
    struct Case {
        const char *button, *typed;
        int address;
        const char* shown;
    };
    for (const Case& c : {Case{nullptr, nullptr, 0x20, "0x20"}, Case{"CODEC_ADDR_C6H", nullptr, 0xC6, "0xC6"},
                          Case{"CODEC_ADDR_WR", "0x5A", 0x5A, "The custom Setting\uFF1A0x5A"}}) {
        SCOPED_TRACE(c.shown);
        click("setcodecI2C");
        if (c.button) click(c.button);
        if (c.typed) typeText("ChipaddTxt", c.typed);
        clickFresh("SetCodecComFrm_OKCMD");
        expectSent({{0x0E, 0x00}, {0x0D, c.address}});
        EXPECT_EQ(consoleText(), QString::fromUtf8(" Set the COMM Mode:IIC Mode      Set the CHIP Address:") + QString::fromUtf8(c.shown) + "\n");
        EXPECT_EQ(evb::Board().ChipAddress, c.address);
        EXPECT_FALSE(codecWindow()->isVisible());
    }
    // A custom address that is no 8-bit number is refused by name and range; nothing is sent.
    click("setcodecI2C");
    typeText("ChipaddTxt", "0xZZ");
    clickFresh("SetCodecComFrm_OKCMD");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(consoleText(), " Chip Address must be 0x00..0xFF: 0xZZ; nothing sent\n");
    EXPECT_EQ(evb::Board().ChipAddress, 0x5A);
    EXPECT_TRUE(codecWindow()->isVisible());
    triggerMenu("Codec I2C Address");
    EXPECT_TRUE(codecWindow()->isVisible());
    EXPECT_TRUE(checked("CODEC_ADDR_WR"));
    EXPECT_EQ(find<QLineEdit>("ChipaddTxt")->text(), "0x5A");
    EXPECT_EQ(sentSinceMark(), 0u);
    // "Refresh" resets the address, which the window then shows.
    click("SetCodecComFrm_OKCMD");
    click("Refresh");
    EXPECT_EQ(evb::Board().ChipAddress, 0x20);
    click("setcodecI2C");
    EXPECT_TRUE(checked("CODEC_ADDR_20H"));

    // The RS-232 configuration window: its exit changes nothing.
    triggerMenu("RS-232 Port");
    ASSERT_TRUE(app->main->Rs232Window()->isVisible());
    find<QComboBox>("comportsel_box")->setCurrentText("COM7");
    markFrames();
    const std::string portBefore = app->main->RS232.fGetPortName();
    click("RS232FRM_ExtCMD");
    EXPECT_EQ(app->main->RS232.fGetPortName(), portBefore);
    EXPECT_EQ(sentSinceMark(), 0u);
}

} // namespace
