// The windows the main window opens: S/PDIF configuration, codec control interface, RS-232
// configuration and the warning window, against the simulated board.
#include "tests/gui/support/GuiHarness.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "windows/TForm6.h"
#include "windows/TRS232CfgFrm.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/TSetCodecComodeFrm.h"
#include "windows/Twarnfrm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Record = std::array<std::uint8_t, 18>;

Record rec(std::initializer_list<std::uint8_t> bytes) {
    Record r{};
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        r.at(i++) = b;
    return r;
}

std::string hex(const std::vector<Record>& recs) {
    std::string s;
    char buf[4];
    for (const auto& r : recs) {
        for (std::uint8_t b : r) {
            std::snprintf(buf, sizeof buf, "%02X ", b);
            s += buf;
        }
        s += "\n";
    }
    return s;
}

class SmallWindowsTest : public GuiFixture {
  protected:
    void expectSent(const std::vector<Record>& expected) {
        std::vector<Record> got;
        for (const auto& f : framesSinceMark(expected.size()))
            got.push_back(f.record);
        EXPECT_EQ(hex(got), hex(expected));
        EXPECT_EQ(sentSinceMark(), expected.size());
        markFrames();
    }
    bool checked(const char* name) { return find<QRadioButton>(name)->isChecked(); }
    TSPDIFConfigFRM* spdif() { return app->main->SpdifWindow(); }
    TSetCodecComodeFrm* codecWindow() { return app->main->ControlInterfaceWindow(); }
};

const QString kSpdifBanner =
    "..............................Set the SPDIF Mode..............................\n";

// --- S/PDIF configuration ---

TEST_F(SmallWindowsTest, SpdifConfirmAsShownAtStartupTakesTheSlaveBranchAndSendsTheStoredValues) {
    click("ClrCMD");
    markFrames();
    click("ConfirmCMD");
    expectSent({rec({0x08, 0x00, 0x01, 0x01, 0x01, 0x40, 0x01, 0x01, 0x01, 0x40}), rec({0x02, 0x00, 0x01}),
                rec({0x02, 0x01, 0x00}), rec({0x02, 0x02, 0x01})});
    EXPECT_EQ(consoleText(), kSpdifBanner + " Mode:Slave  ");
    EXPECT_FALSE(spdif()->isVisible());
    EXPECT_EQ(evb::gBoard.Spdif.rx_mode, 1);
    EXPECT_EQ(evb::gBoard.Spdif.tx_mode, 1);
}

TEST_F(SmallWindowsTest, SpdifConfigurationOpensWithTheStoredReceiverSettingsChecked) {
    spdif()->hide();
    click("SetTXCMD");
    EXPECT_TRUE(spdif()->isVisible());
    EXPECT_EQ(spdif()->windowTitle(), "SPDIF Configuration");
    EXPECT_EQ(spdif()->SPDIFTitle->title(), "SPDIF Configuration");
    for (const char* name :
         {"SPDIF_MASTER", "SPDIF_FMT_I2S", "SPDIF_FMT_B24", "SPDIF_LRC_256", "SPDIF_SCLK_64"})
        EXPECT_TRUE(checked(name)) << name;
    EXPECT_FALSE(spdif()->SPDIF_LRC_384->isVisible());
    EXPECT_FALSE(spdif()->SPDIF_LRC_512->isVisible());
    EXPECT_FALSE(spdif()->SPDIF_LRC_384->isEnabled());
    EXPECT_EQ(spdif()->SPDIF_LRC_256->y(), 30);
    EXPECT_EQ(spdif()->SPDIF_LRC_128->y(), 55);
    EXPECT_EQ(evb::gBoard.Spdif.selector, 0);
}

TEST_F(SmallWindowsTest, SpdifConfirmAfterOpeningFromTheMainWindowSendsMasterI2s256And64) {
    click("SetTXCMD");
    click("ClrCMD");
    markFrames();
    click("ConfirmCMD");
    expectSent({rec({0x08, 0x00, 0x00, 0x10, 0x01, 0x40, 0x01, 0x10, 0x01, 0x40}), rec({0x02, 0x00, 0x01}),
                rec({0x02, 0x01, 0x00}), rec({0x02, 0x02, 0x01})});
    EXPECT_EQ(consoleText(),
              kSpdifBanner +
                  " Mode:Master   Format:IIS   Resolution:24 Bits   MCLK/LRCK:256   SCLK/LRCK:64\n");
    EXPECT_FALSE(spdif()->isVisible());
}

TEST_F(SmallWindowsTest, SpdifChoicesAreStoredAndTheDirectionsFollowTheMainWindow) {
    click("SDP2_SLV");
    click("SetTXCMD");
    click("SPDIF_SLAVE");
    click("SPDIF_FMT_RJ");
    click("SPDIF_FMT_B20");
    click("SPDIF_LRC_128");
    click("SPDIF_SCLK_128");
    click("ClrCMD");
    markFrames();
    click("ConfirmCMD");
    expectSent({rec({0x08, 0x00, 0x01, 0x20, 0x00, 0x80, 0x01, 0x20, 0x00, 0x80}), rec({0x02, 0x00, 0x01}),
                rec({0x02, 0x01, 0x01}), rec({0x02, 0x02, 0x01})});
    EXPECT_EQ(consoleText(),
              kSpdifBanner +
                  " Mode:Slave   Format:RJ   Resolution:20 Bits   MCLK/LRCK:128   SCLK/LRCK:128\n");
    EXPECT_EQ(evb::gBoard.Spdif.rx_resolution, 0x11); // stored, never sent
    EXPECT_EQ(evb::gBoard.Spdif.tx_resolution, 0x11);

    // Reopened: the stored format code 0x20 matches no button, which keep their state.
    click("SetTXCMD");
    EXPECT_TRUE(checked("SPDIF_SLAVE"));
    EXPECT_TRUE(checked("SPDIF_FMT_RJ"));
    EXPECT_TRUE(checked("SPDIF_FMT_B20"));
    EXPECT_TRUE(checked("SPDIF_LRC_128"));
}

TEST_F(SmallWindowsTest, RegisterMapButtonDoesNothing) {
    markFrames();
    const QString before = consoleText();
    click("SPDIFConfigFRM/Button1");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(consoleText(), before);
    EXPECT_TRUE(spdif()->isVisible());
}

// --- codec control interface ---

TEST_F(SmallWindowsTest, OpeningTheControlInterfaceWindowPreselectsTheStateAndSendsNothing) {
    markFrames();
    click("setcodecI2C");
    EXPECT_TRUE(codecWindow()->isVisible());
    EXPECT_EQ(codecWindow()->windowTitle(), "Setup Codec Communication Mode");
    EXPECT_TRUE(checked("CODEC_I2C_SEL"));
    EXPECT_TRUE(checked("CODEC_ADDR_20H"));
    EXPECT_FALSE(find<QRadioButton>("CODEC_SPI_SEL")->isEnabled());
    EXPECT_EQ(find<QLineEdit>("ChipaddTxt")->text(), "0x20");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(evb::BoardReady, 255);
}

TEST_F(SmallWindowsTest, ControlInterfaceOkSendsModeAndAddressAndLogsOneLine) {
    click("setcodecI2C");
    click("ClrCMD");
    markFrames();
    click("SetCodecComFrm_OKCMD");
    expectSent({rec({0x0E, 0x00}), rec({0x0D, 0x20})});
    EXPECT_EQ(consoleText(), " Set the COMM Mode:IIC Mode      Set the CHIP Address:0x20\n");
    EXPECT_FALSE(codecWindow()->isVisible());
}

TEST_F(SmallWindowsTest, ControlInterfaceFixedAddressesAreSentAsShown) {
    for (const char* name : {"CODEC_ADDR_C6H", "CODEC_ADDR_10H", "CODEC_ADDR_86H"}) {
        SCOPED_TRACE(name);
        const std::string hexText = std::string(name).substr(11, 2);
        const auto value = static_cast<std::uint8_t>(std::stoi(hexText, nullptr, 16));
        click("setcodecI2C");
        click(name);
        EXPECT_EQ(evb::gBoard.ChipAddress, value);
        click("ClrCMD");
        markFrames();
        click("SetCodecComFrm_OKCMD");
        expectSent({rec({0x0E, 0x00}), rec({0x0D, value})});
        EXPECT_EQ(consoleText().toStdString(),
                  " Set the COMM Mode:IIC Mode      Set the CHIP Address:0x" + hexText + "\n");
    }
}

TEST_F(SmallWindowsTest, ControlInterfaceCustomAddressIsSentAndShownOnReopening) {
    click("setcodecI2C");
    click("CODEC_ADDR_WR");
    typeText("ChipaddTxt", "0x5A");
    click("ClrCMD");
    markFrames();
    click("SetCodecComFrm_OKCMD");
    expectSent({rec({0x0E, 0x00}), rec({0x0D, 0x5A})});
    EXPECT_EQ(consoleText(),
              QString::fromUtf8(" Set the COMM Mode:IIC Mode      Set the CHIP Address:The custom "
                                "Setting\uFF1A0x5A\n"));
    EXPECT_EQ(evb::gBoard.ChipAddress, 0x5A);

    triggerMenu("Codec I2C Address");
    EXPECT_TRUE(codecWindow()->isVisible());
    EXPECT_TRUE(checked("CODEC_ADDR_WR"));
    EXPECT_EQ(find<QLineEdit>("ChipaddTxt")->text(), "0x5A");
    EXPECT_EQ(sentSinceMark(), 0u);
}

TEST_F(SmallWindowsTest, ControlInterfaceCustomAddressThatIsNoNumberIsSentAs0x80) {
    click("setcodecI2C");
    click("CODEC_ADDR_WR");
    typeText("ChipaddTxt", "zz");
    markFrames();
    click("SetCodecComFrm_OKCMD");
    expectSent({rec({0x0E, 0x00}), rec({0x0D, 0x80})});
    EXPECT_TRUE(consoleText().endsWith(QString::fromUtf8("The custom Setting\uFF1A0x80\n")));
}

TEST_F(SmallWindowsTest, RefreshResetsTheAddressTheControlInterfaceWindowThenShows) {
    click("setcodecI2C");
    click("CODEC_ADDR_44H");
    click("SetCodecComFrm_OKCMD");
    click("Refresh");
    EXPECT_EQ(evb::gBoard.ChipAddress, 0x20);
    click("setcodecI2C");
    EXPECT_TRUE(checked("CODEC_ADDR_20H"));
}

// --- RS-232 configuration window ---

TEST_F(SmallWindowsTest, RS232PortMenuShowsTheConfigurationWindowWhoseExitDoesNothing) {
    triggerMenu("RS-232 Port");
    TRS232CfgFrm* w = app->main->Rs232Window();
    ASSERT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "RS-232 Configuration");
    EXPECT_EQ(find<QComboBox>("RS232BaudSet_Box")->currentText(), "9600");
    EXPECT_EQ(find<QComboBox>("RS232BaudSet_Box")->count(), 14);
    EXPECT_EQ(find<QComboBox>("comportsel_box")->currentText(), "COM1");
    EXPECT_EQ(find<QComboBox>("comportsel_box")->count(), 16);
    find<QComboBox>("comportsel_box")->setCurrentText("COM7");
    markFrames();
    const std::string portBefore = app->main->RS232.fGetPortName();
    click("RS232FRM_ExtCMD");
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(app->main->RS232.fGetPortName(), portBefore);
    EXPECT_EQ(sentSinceMark(), 0u);
}

// --- warning window ---

TEST_F(SmallWindowsTest, WarningWindowHasNoCloseButtonAndASecondReportReplacesBothLines) {
    Twarnfrm* w = app->main->WarningWindow();
    EXPECT_EQ(w->windowTitle(), "Warnning");
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(w->Errlbl->text(), "");
    app->main->ShowWarning("first", "second");
    EXPECT_TRUE(w->isVisible());
    app->main->ShowWarning("Register Address is Error!", "");
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->Errlbl->text(), "Register Address is Error!");
    EXPECT_EQ(w->Errlbl1->text(), "");
    click("warnfrm/Button1");
    EXPECT_FALSE(w->isVisible());
}

TEST_F(SmallWindowsTest, ShowToolWindowOpensOnlyTheApplicationsWindows) {
    QWidget stranger;
    EXPECT_FALSE(app->main->ShowToolWindow(&stranger));
    EXPECT_FALSE(stranger.isVisible());
    EXPECT_FALSE(app->main->ShowToolWindow(nullptr));
    app->main->AboutWindow()->showMinimized();
    EXPECT_TRUE(app->main->ShowToolWindow(app->main->AboutWindow()));
    EXPECT_TRUE(app->main->AboutWindow()->isVisible());
    EXPECT_FALSE(app->main->AboutWindow()->isMinimized());
}

} // namespace
