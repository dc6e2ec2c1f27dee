// Port enumeration over a fake sysfs tree, the COMn conversions, and the serial layer's error
// messages in their languages.

#include "FakeSysfs.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TTalonCommLanguage.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace TalonComm;
using evbtest::FakeSysfs;

namespace {

std::vector<std::string> names(const TTalonSerialPortList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.SPCount(); ++i)
        out.push_back(list.PortName(i));
    return out;
}

} // namespace

// Both sysfs layouts: before the serial-base rework and since (Linux 6.5).
class PortEnumerationLayout : public ::testing::TestWithParam<bool> {};

TEST_P(PortEnumerationLayout, ListsRealPortsNumberedFirstThenByNameWithTheirDriver) {
    FakeSysfs sys;
    sys.AddSerial8250("ttyS9", 4, GetParam());
    sys.AddSerial8250("ttyS0", 4, GetParam());
    sys.AddSerial8250("ttyS1", 0, GetParam()); // placeholder
    sys.AddSerial8250("ttyS2", 4, GetParam());
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddPlain("ttyAMA0", "bus/amba/drivers/uart-pl011");
    sys.AddVirtual("tty0");
    sys.AddVirtual("ptmx");
    TCommSerialPortInfo info(sys.Root());
    EXPECT_EQ(names(*info.List),
              (std::vector<std::string>{"COM1", "COM3", "COM10", "/dev/ttyAMA0", "/dev/ttyUSB0"}));
    const TTalonSerialPortInfo& p = info.List->SPInfo(0);
    EXPECT_EQ(p.Driver, "serial8250");
    EXPECT_TRUE(p.Description.empty());
    EXPECT_TRUE(p.Location.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, PortEnumerationLayout, ::testing::Values(false, true));

TEST(PortEnumeration, UsbPortCarriesDeviceDetails) {
    FakeSysfs sys;
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddById("usb-FTDI_FT232R_USB_UART_A1-if00-port0", "../../ttyUSB0");
    TCommSerialPortInfo info(sys.Root(), sys.ById());
    ASSERT_EQ(info.List->SPCount(), 1);
    const TTalonSerialPortInfo& p = info.List->SPInfo(0);
    EXPECT_EQ(p.PortName, "/dev/ttyUSB0");
    EXPECT_EQ(p.Driver, "ftdi_sio");
    EXPECT_EQ(p.Location, "1-1.2:1.0");
    EXPECT_EQ(p.Description, "FT232R USB UART");
    EXPECT_EQ(p.FriendlyName, "FTDI FT232R USB UART (/dev/ttyUSB0)");
    EXPECT_EQ(p.Manufacturer, "FTDI");
    EXPECT_EQ(p.UsbId, "0403:6001");
    EXPECT_EQ(p.ByIdAlias, sys.ById() + "/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    EXPECT_NE(p.InstanceId.find("1-1.2:1.0/ttyUSB0/tty/ttyUSB0"), std::string::npos);
    EXPECT_TRUE(p.ClassGuid.empty());
}

TEST(PortEnumeration, MissingOrEmptyTreeListsNothingAndRefreshSeesNewPortsLookedUpInAnyCase) {
    EXPECT_EQ(TCommSerialPortInfo("/nonexistent-evb-sysfs").List->SPCount(), 0);
    FakeSysfs sys;
    TCommSerialPortInfo info(sys.Root());
    EXPECT_EQ(info.List->SPCount(), 0);
    sys.AddUsb("ttyACM0", "bus/usb/drivers/cdc_acm", false);
    sys.AddSerial8250("ttyS3", 4);
    info.Refresh();
    EXPECT_EQ(names(*info.List), (std::vector<std::string>{"COM4", "/dev/ttyACM0"}));
    ASSERT_NE(info.List->PortByName("com4"), nullptr);
    EXPECT_EQ(info.List->PortByName("com4")->PortName, "COM4");
    EXPECT_EQ(info.List->PortByName("/DEV/TTYACM0"), info.List->PortByName("/dev/ttyACM0"));
    EXPECT_EQ(info.List->PortByName("COM5"), nullptr);
}

struct PortNoCase {
    const char* name;
    int number;
};

class PortNumber : public ::testing::TestWithParam<PortNoCase> {};

TEST_P(PortNumber, NameGivesNumber) {
    EXPECT_EQ(TCommSerialPortInfo::PortNo(GetParam().name), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Names, PortNumber,
                         ::testing::Values(PortNoCase{"COM12", 12}, PortNoCase{"com3", 3},
                                           PortNoCase{"COM1A", 0}, PortNoCase{"COM", 0},
                                           PortNoCase{"LPT1", 0}, PortNoCase{"\\\\.\\COM3", 0},
                                           PortNoCase{"", 0}, PortNoCase{"COM 7", 7}, PortNoCase{"COM+4", 4},
                                           PortNoCase{"COM-4", 0}, PortNoCase{"/dev/ttyS0", 0},
                                           PortNoCase{"COM99999999999", 0}));

TEST(PortNumber, NumberGivesName) {
    EXPECT_EQ(TCommSerialPortInfo::PortName(0), "");
    EXPECT_EQ(TCommSerialPortInfo::PortName(-1), "");
    EXPECT_EQ(TCommSerialPortInfo::PortName(7), "COM7");
}
struct MessageCase {
    int lcid;
    TErrorCode code;
    const char* port;
    const char* text;
};

class ErrorMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessages, TextIsPrefixAndTableEntry) {
    const MessageCase& c = GetParam();
    EXPECT_EQ(ETalonCommError::FormatMessage(c.code, c.port, c.lcid), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMessages,
    ::testing::Values(MessageCase{1033, 4, "COM7", "Serial port: \"COM7\" - Cannot open COM port"},
                      MessageCase{1033, 1, "", "Out of memory"},
                      MessageCase{1033, 14, "COM1",
                                  "Serial port: \"COM1\" - Cannot close COM port write thread"},
                      MessageCase{1033, 9, "", "Cannot create COM port asynchronize read event"},
                      MessageCase{1033, 0, "", "Unknown error"},
                      MessageCase{1033, 15, "X", "Serial port: \"X\" - Unknown error"},
                      MessageCase{2052, 4, "COM7", "串行口:“COM7”- 不能打开串行口"},
                      MessageCase{2052, 200, "", "未知错误"},
                      MessageCase{1028, 4, "COM7", "序列埠:『COM7』- 不能打開序列埠"},
                      MessageCase{1028, 13, "", "不能關閉序列埠讀執行緒"},
                      MessageCase{1041, 2, "", "Cannot initialize read buffer"}));

struct LocaleCase {
    const char* name;
    int lcid;
};

class LocaleLanguage : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(LocaleLanguage, LocaleNameSelectsTable) {
    EXPECT_EQ(TTalonCommLanguage::LcidFromLocaleName(GetParam().name), GetParam().lcid);
}

INSTANTIATE_TEST_SUITE_P(Names, LocaleLanguage,
                         ::testing::Values(LocaleCase{"zh_CN.UTF-8", 2052}, LocaleCase{"zh_SG", 2052},
                                           LocaleCase{"zh_TW.UTF-8", 1028}, LocaleCase{"zh_HK.Big5", 1028},
                                           LocaleCase{"zh_MO", 1028}, LocaleCase{"en_US.UTF-8", 1033},
                                           LocaleCase{"C", 1033}, LocaleCase{"zh", 1033},
                                           LocaleCase{"de_DE@euro", 1033}));

TEST(ErrorLanguage, LcAllWinsOverLang) {
    const char* oldAll = std::getenv("LC_ALL");
    const std::string saved = oldAll ? oldAll : "";
    setenv("LANG", "en_US.UTF-8", 1);
    setenv("LC_ALL", "zh_TW.UTF-8", 1);
    const ETalonCommError e(4, "COM3");
    EXPECT_STREQ(e.what(), "序列埠:『COM3』- 不能打開序列埠");
    if (oldAll)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(ErrorLanguage, ZeroLocaleMeansEnglish) {
    EXPECT_EQ(TTalonCommLanguage(0).Lcid(), 1033);
}
