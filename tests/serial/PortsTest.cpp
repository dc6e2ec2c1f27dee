// Port enumeration over a fake sysfs tree, the watch for a port that went away, and the serial
// layer's error messages in their languages. The COMn conversions are EngineTest's port-name table.

#include "FakeSysfs.h"
#include "Harness.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TPortWatch.h"
#include "serial/TTalonCommLanguage.h"
#include "tests/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>

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

// Both sysfs layouts: before the serial-base rework and since (Linux 6.5). The USB adapter's
// details are checked through evbctl ports.
class PortEnumerationLayout : public ::testing::TestWithParam<bool> {};

TEST_P(PortEnumerationLayout, ListsRealPortsNumberedFirstThenByNameWithTheirDriverFromAnEmptyTreeOnRefresh) {
    FakeSysfs sys;
    TCommSerialPortInfo info(sys.Root());
    EXPECT_EQ(info.List->SPCount(), 0);
    for (const char* name : {"ttyS9", "ttyS0", "ttyS2"})
        sys.AddSerial8250(name, 4, GetParam());
    sys.AddSerial8250("ttyS1", 0, GetParam()); // placeholder
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddUsb("ttyACM0", "bus/usb/drivers/cdc_acm", false);
    sys.AddPlain("ttyAMA0", "bus/amba/drivers/uart-pl011");
    sys.AddVirtual("tty0");
    sys.AddVirtual("ptmx");
    sys.SetConsole("tty0 ttyS9");
    info.Refresh();
    EXPECT_EQ(names(*info.List), (std::vector<std::string>{"COM1", "COM3", "COM10", "/dev/ttyACM0",
                                                           "/dev/ttyAMA0", "/dev/ttyUSB0"}));
    const TTalonSerialPortInfo& p = info.List->SPInfo(0);
    EXPECT_EQ(p.Driver, "serial8250");
    EXPECT_TRUE(p.Description.empty());
    EXPECT_TRUE(p.Location.empty());
    EXPECT_TRUE(info.List->SPInfo(2).SystemConsole);
    EXPECT_EQ(info.List->SPInfo(5).FriendlyName, "FTDI FT232R USB UART (/dev/ttyUSB0)");
    EXPECT_NE(info.List->SPInfo(5).InstanceId.find("1-1.2:1.0/ttyUSB0/tty/ttyUSB0"), std::string::npos);
    // Looked up in any case.
    ASSERT_NE(info.List->PortByName("com3"), nullptr);
    EXPECT_EQ(info.List->PortByName("com3")->PortName, "COM3");
    EXPECT_EQ(info.List->PortByName("/DEV/TTYACM0"), info.List->PortByName("/dev/ttyACM0"));
    EXPECT_EQ(info.List->PortByName("COM2"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PortEnumerationLayout, ::testing::Values(false, true));

// One message per language (zh_TW through LC_ALL); Japanese has no table of its own.
TEST(ErrorLanguage, EachLanguageHasItsTableAndItsPortPrefixAndLcAllWinsOverLang) {
    EXPECT_EQ(ETalonCommError::FormatMessage(15, "X", 1033), "Serial port: \"X\" - Unknown error");
    EXPECT_EQ(ETalonCommError::FormatMessage(4, "COM7", 2052), "串行口:“COM7”- 不能打开串行口");
    EXPECT_EQ(ETalonCommError::FormatMessage(2, "", 1041), "Cannot initialize read buffer");
    EXPECT_EQ(TTalonCommLanguage(0).Lcid(), 1033);
    const std::pair<const char*, int> locales[] = {{"zh_CN.UTF-8", 2052}, {"zh_HK.Big5", 1028}, {"zh", 1033}};
    for (const auto& [name, lcid] : locales)
        EXPECT_EQ(TTalonCommLanguage::LcidFromLocaleName(name), lcid) << name;
    const char* oldAll = std::getenv("LC_ALL");
    const std::string saved = oldAll ? oldAll : "";
    setenv("LANG", "en_US.UTF-8", 1);
    setenv("LC_ALL", "zh_TW.UTF-8", 1);
    EXPECT_STREQ(ETalonCommError(4, "COM3").what(), "序列埠:『COM3』- 不能打開序列埠");
    oldAll ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
}

// The audit's case: a link to the board's pseudo-terminal, the board killed, its number given to
// another program's terminal, an unrelated file created beside the link: nothing is taken for
// the board, only the link made again by its publisher. A USB device must be the same adapter.
TEST(PortWatch, AStaleLinkToAnotherTerminalIsNeverTakenOnlyTheLinkMadeAgainAndUsbMustMatch) {
    const TempDir dir;
    const std::string link = (dir.path / "board").string();
    auto board = std::make_unique<evbtest::Pty>();
    const std::string number = board->Slave();
    ASSERT_EQ(::symlink(number.c_str(), link.c_str()), 0);
    const TDeviceIdentity id = TPortWatch::Identify(link, dir.path / "by-id");
    ASSERT_TRUE(id.PseudoTerminal);
    board.reset();
    std::vector<std::unique_ptr<evbtest::Pty>> others; // the lowest free number is handed out
    while (others.size() < 64 && (others.empty() || others.back()->Slave() != number))
        others.push_back(std::make_unique<evbtest::Pty>());
    std::atomic<int> calls{0};
    std::atomic<bool> remade{false}, remadeWhenCalled{false};
    TPortWatch watch;
    ASSERT_TRUE(watch.Arm(id, true, [&](const std::string&) {
        remadeWhenCalled = remade.load();
        ++calls;
    }));
    dir.write("unrelated", "x");
    evbtest::Pty restarted;
    remade = true;
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(restarted.Slave().c_str(), link.c_str()), 0);
    ASSERT_TRUE(evbtest::WaitFor([&] { return calls == 1; }));
    EXPECT_TRUE(remadeWhenCalled);
    EXPECT_FALSE(watch.Arm(TPortWatch::Identify(restarted.Slave()), true, {})) << "a terminal by its number";

    FakeSysfs sys; // a regular file stands for the adapter's node; the one before had a serial number
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    const std::string node = dir.write("ttyUSB0", "");
    TDeviceIdentity usb = TPortWatch::Identify(node, "", sys.Root());
    EXPECT_TRUE(TPortWatch::SameDevice(usb, node));
    usb.Usb += "A1";
    EXPECT_FALSE(TPortWatch::SameDevice(usb, node));
}
