// Port enumeration over a fake sysfs tree, and the COMn conversions.

#include "serial/TCommSerialPortInfo.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace TalonComm;
namespace fs = std::filesystem;

namespace {

class FakeSysfs {
  public:
    FakeSysfs() {
        char tmpl[] = "/tmp/evb-sysfs-XXXXXX";
        m_root = ::mkdtemp(tmpl);
        fs::create_directories(m_root / "class/tty");
        fs::create_directories(m_root / "bus/platform/drivers/serial8250");
        fs::create_directories(m_root / "bus/usb-serial/drivers/ftdi_sio");
        fs::create_directories(m_root / "bus/usb/drivers/cdc_acm");
        fs::create_directories(m_root / "bus/amba/drivers/uart-pl011");
    }
    ~FakeSysfs() { fs::remove_all(m_root); }
    std::string Root() const { return m_root; }

    // A PC serial port (8250 driver); type 0 means no UART behind the placeholder.
    void AddSerial8250(const std::string& name, int type) {
        const fs::path dev = m_root / "devices/platform/serial8250";
        addTty(name, dev, dev / "tty" / name, "bus/platform/drivers/serial8250");
        write(dev / "tty" / name / "type", std::to_string(type));
    }
    // A USB adapter: the tty hangs below the interface 1-1.2:1.0 of device 1-1.2.
    void AddUsb(const std::string& name, const std::string& driverPath, bool serialPortLevel) {
        const fs::path usbDev = m_root / "devices/pci0000:00/usb1/1-1/1-1.2";
        const fs::path iface = usbDev / "1-1.2:1.0";
        write(usbDev / "idVendor", "0403");
        write(usbDev / "product", "FT232R USB UART");
        write(usbDev / "manufacturer", "FTDI");
        const fs::path dev = serialPortLevel ? iface / name : iface;
        addTty(name, dev, dev / "tty" / name, driverPath);
    }
    void AddPlain(const std::string& name, const std::string& driverPath) {
        const fs::path dev = m_root / "devices/platform/uart0";
        addTty(name, dev, dev / "tty" / name, driverPath);
    }
    // A tty with no device link (virtual terminal, pseudo-terminal).
    void AddVirtual(const std::string& name) {
        fs::create_directories(m_root / "devices/virtual/tty" / name);
        fs::create_directory_symlink(m_root / "devices/virtual/tty" / name, m_root / "class/tty" / name);
    }

  private:
    static void write(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text << "\n";
    }
    void addTty(const std::string& name, const fs::path& dev, const fs::path& ttyDir,
                const std::string& driverPath) {
        fs::create_directories(ttyDir);
        if (!fs::exists(dev / "driver")) fs::create_directory_symlink(m_root / driverPath, dev / "driver");
        fs::create_directory_symlink(dev, ttyDir / "device");
        fs::create_directory_symlink(ttyDir, m_root / "class/tty" / name);
    }
    fs::path m_root;
};

std::vector<std::string> names(const TTalonSerialPortList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.SPCount(); ++i)
        out.push_back(list.PortName(i));
    return out;
}

} // namespace

TEST(PortEnumeration, ListsRealPortsNumberedFirstThenByName) {
    FakeSysfs sys;
    sys.AddSerial8250("ttyS9", 4);
    sys.AddSerial8250("ttyS0", 4);
    sys.AddSerial8250("ttyS1", 0); // placeholder
    sys.AddSerial8250("ttyS2", 4);
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddPlain("ttyAMA0", "bus/amba/drivers/uart-pl011");
    sys.AddVirtual("tty0");
    sys.AddVirtual("ptmx");
    TCommSerialPortInfo info(sys.Root());
    EXPECT_EQ(names(*info.List),
              (std::vector<std::string>{"COM1", "COM3", "COM10", "/dev/ttyAMA0", "/dev/ttyUSB0"}));
}

TEST(PortEnumeration, UsbPortCarriesDeviceDetails) {
    FakeSysfs sys;
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    TCommSerialPortInfo info(sys.Root());
    ASSERT_EQ(info.List->SPCount(), 1);
    const TTalonSerialPortInfo& p = info.List->SPInfo(0);
    EXPECT_EQ(p.PortName, "/dev/ttyUSB0");
    EXPECT_EQ(p.Driver, "ftdi_sio");
    EXPECT_EQ(p.Location, "1-1.2:1.0");
    EXPECT_EQ(p.Description, "FT232R USB UART");
    EXPECT_EQ(p.FriendlyName, "FTDI FT232R USB UART (/dev/ttyUSB0)");
    EXPECT_NE(p.InstanceId.find("1-1.2:1.0/ttyUSB0/tty/ttyUSB0"), std::string::npos);
    EXPECT_TRUE(p.ClassGuid.empty());
}

TEST(PortEnumeration, PortWithoutUsbAncestorHasOnlyNameDriverAndInstance) {
    FakeSysfs sys;
    sys.AddSerial8250("ttyS0", 4);
    TCommSerialPortInfo info(sys.Root());
    ASSERT_EQ(info.List->SPCount(), 1);
    const TTalonSerialPortInfo& p = info.List->SPInfo(0);
    EXPECT_EQ(p.Driver, "serial8250");
    EXPECT_TRUE(p.Description.empty());
    EXPECT_TRUE(p.Location.empty());
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
