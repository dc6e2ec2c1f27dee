// The serial device component: its properties, package delivery, Active/UsePackage and the
// routing of events to the worker or the main thread.

#include "Harness.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommPackage.h"
#include "serial/TRkCommDevice.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace TalonComm;
using namespace evbtest;

namespace {

// The main window's set-up: time-out packages (the default type), events on the worker thread.
// Packages are recorded unless the test has a handler of its own.
class Device : public ::testing::Test {
  protected:
    void Open(std::uint32_t interval) {
        dev.fSetSyncEvents(false);
        dev.fSetPackageInterval(interval);
        if (!dev.OnPackage)
            dev.OnPackage = [this](TObject* sender, int type) {
                std::lock_guard lock(mutex);
                if (type != 1 || sender != &dev) return;
                threads.push_back(std::this_thread::get_id());
                char buf[9000];
                packages.emplace_back(buf, static_cast<std::size_t>(dev.Read(buf, sizeof buf)));
                ++ones;
            };
        dev.fSetPortName(pty.Slave());
        dev.fSetActive(true);
        dev.fSetUsePackage(true);
    }

    Pty pty;
    std::mutex mutex;
    std::vector<std::string> packages;
    std::vector<std::thread::id> threads;
    std::atomic<int> ones{0};
    TRkCommDevice dev; // last: its threads stop before the members above go
};

} // namespace

// Any text reading back well-formed and unchanged when written again: the port-params fuzz target.
// Out-of-range values are clamped or left alone; frame settings copy their markers.
TEST(DeviceProperties, PortParamsTextOutOfRangeValuesAndFrameSettingsCopyingTheirMarkersButNotDoubling) {
    TRkCommDevice dev, other;
    const std::pair<const char*, const char*> cases[] = {
        {"COM3", "COM3,9600,N,8,1"},
        {"com4,110,m", "COM4,110,M,8,1"},
        {"ttyUSB0,19200,e,7,1.5", "ttyUSB0,19200,E,7,1.5"},
        {"COM0,12x,Q,9z,3", "COM0,12,N,9,1"},
        {"COM1,9600, ,8", "COM1,9600,O,8,1"},
        {"  com6 , 4800 , s , 264 , 2 ,junk", "COM6,4800,S,8,2"},
        {"\"/dev/tty USB0\",99999999999", "/dev/tty USB0,4294967295,N,8,1"}};
    for (const auto& [text, readBack] : cases) {
        dev.fSetParity(ptOddParity); // what an empty parity field leaves alone
        dev.fSetPortParams(text);
        EXPECT_EQ(dev.fGetPortParams(), readBack);
    }
    dev.fSetBaudRate(1000);
    EXPECT_EQ(dev.fGetBaud(), brCustom);
    dev.fSetBaud(brCustom);
    EXPECT_EQ(dev.fGetBaudRate(), 1000u) << "writing brCustom changes nothing";
    dev.fSetBaud(br56000);
    EXPECT_EQ(dev.fGetBaudRate(), 56000u);
    dev.fSetParity(static_cast<TParity>(9));
    dev.fSetStopBits(static_cast<TStopBits>(7));
    dev.fSetByteSize(300);
    dev.fSetAutoAnswer(-4);
    EXPECT_EQ(
        (std::vector<int>{dev.fGetParity(), dev.fGetStopBits(), dev.fGetByteSize(), dev.fGetAutoAnswer()}),
        (std::vector<int>{ptNoParity, sbOneStopBit, 255, 0}));
    for (TFlowControl f : {fcNone, fcRtsCts, fcXonXoff, fcTranXonXoff, fcRtsCtsXonXoff}) {
        dev.fSetFlowControl(f);
        EXPECT_EQ(dev.fGetFlowControl(), f == fcTranXonXoff ? fcXonXoff : f) << "transmit-only reads as both";
    }
    TRkCommFrameSettings& marks = *dev.fGetFrameSettings();
    marks.fSetFrameHead(0x01);
    marks.fSetFrameTail(0x02);
    marks.fSetFrameCtrl(0x03);
    marks.fSetDoubleFrameMark(true);
    other.fSetFrameSettings(marks);
    const TRkCommFrameSettings& copied = *other.fGetFrameSettings();
    EXPECT_EQ((std::vector<int>{copied.fGetFrameHead(), copied.fGetFrameTail(), copied.fGetFrameCtrl(),
                                copied.fGetDoubleFrameMark()}),
              (std::vector<int>{0x01, 0x02, 0x03, 0}));
}

TEST_F(Device, UsePackageAndPackageSettingsLeaveThePortOpenPortSettingsCloseItAndAFailedOpenOpensNeither) {
    std::atomic<int> opens{0};
    dev.AfterOpen = [&](TObject*) { ++opens; };
    dev.fSetPortName(pty.Slave());
    dev.fSetActive(true);
    dev.fSetUsePackage(true);
    dev.fSetPackageInterval(30);
    dev.fSetQueueSize(8);
    dev.fSetPackageSize(512);
    dev.fSetPackageType(cptFrameHeadTail);
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(dev.fGetActive()) << "the engine and the package layer";
    EXPECT_EQ((std::vector<long>{dev.fGetPackageInterval(), dev.fGetQueueSize(), dev.fGetPackageSize(),
                                 dev.fGetPackageType()}),
              (std::vector<long>{30, 8, 512, cptFrameHeadTail}));
    dev.Package()->fSetActive(false);
    EXPECT_FALSE(dev.fGetActive()) << "both must be active";
    dev.Package()->fSetActive(true);
    dev.fSetUsePackage(false);
    EXPECT_TRUE(dev.fGetActive());
    EXPECT_FALSE(dev.Package()->fGetActive());
    dev.fSetByteSize(8);
    EXPECT_FALSE(dev.fGetActive());
    dev.fSetHwInSize(2048);
    dev.fSetOutBufSize(300);
    EXPECT_EQ(dev.fGetHwInSize(), 2048);
    EXPECT_EQ(dev.fGetOutBufSize(), 300);
    dev.fSetUsePackage(true);
    dev.fSetPortName("/dev/evb-missing");
    EXPECT_THROW(dev.fSetActive(true), ETalonCommError);
    EXPECT_FALSE(dev.fGetActive() || dev.Package()->fGetActive()) << "a failed open opens neither";
}

TEST_F(Device, ClosingWaitsForAPackageHandlerUnderWay) {
    // The owner may drop its handler once the port is closed (the main window does so when it
    // goes away): no handler may still be running then.
    std::atomic<bool> inHandler{false}, closed{false}, overlap{false}, handlerDone{false};
    dev.OnPackage = [&](TObject*, int type) {
        if (type != 1) return;
        inHandler = true;
        WaitFor([&] { return closed.load(); }, 300ms);
        overlap = closed.load();
        handlerDone = true;
    };
    Open(1);
    pty.Send("a");
    ASSERT_TRUE(WaitFor([&] { return inHandler.load(); }));
    dev.fSetActive(false);
    closed = true;
    ASSERT_TRUE(WaitFor([&] { return handlerDone.load(); }));
    EXPECT_FALSE(overlap);
}

TEST_F(Device, ReceiveRingResizedUnderLivePackagesKeepsWorking) {
    // The package layer's timer thread reads the ring that a resize replaces: unless the layer
    // stands still around it, ThreadSanitizer reports the race (and ASan the use after free
    // when a copy is under way as the ring goes).
    Open(1);
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop)
            pty.Send("xyz");
    });
    for (int i = 0; i < 20; ++i)
        dev.fSetInBufSize(4096 + i);
    stop = true;
    feeder.join();
    EXPECT_TRUE(dev.fGetActive());
    EXPECT_EQ(dev.fGetInBufSize(), 4096 + 19);
    const int before = ones;
    pty.Send("end");
    EXPECT_TRUE(WaitFor([&] { return ones > before; }));
}
