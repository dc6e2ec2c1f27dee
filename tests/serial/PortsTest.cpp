// Port enumeration over a fake sysfs tree, and the COMn conversions.

#include "FakeSysfs.h"
#include "serial/TCommSerialPortInfo.h"

#include <filesystem>
#include <fstream>
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

TEST_P(PortEnumerationLayout, ListsRealPortsNumberedFirstThenByName) {
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
}

TEST_P(PortEnumerationLayout, PcPortNamesTheControllerDriver) {
    FakeSysfs sys;
    sys.AddSerial8250("ttyS0", 4, GetParam());
    TCommSerialPortInfo info(sys.Root());
    ASSERT_EQ(info.List->SPCount(), 1);
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

TEST(PortEnumeration, RefreshSeesNewPortsAndLookupIgnoresCase) {
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

TEST(PortEnumeration, MissingTreeGivesAnEmptyList) {
    TCommSerialPortInfo info("/nonexistent-evb-sysfs");
    EXPECT_EQ(info.List->SPCount(), 0);
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
