// The serial device component: its properties, package delivery, Active/UsePackage and the
// routing of events to the worker or the main thread.

#include "Harness.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommPackage.h"
#include "serial/TRkCommDevice.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace TalonComm;
using namespace evbtest;

namespace {

// The main window's set-up: time-out packages, events on the worker thread.
class Device : public ::testing::Test {
  protected:
    void Open(std::uint32_t interval = 50) {
        dev.fSetSyncEvents(false);
        dev.fSetPackageInterval(interval);
        dev.OnPackage = [this](TObject* sender, int type) {
            std::lock_guard lock(mutex);
            types.push_back(type);
            if (type != 1 || sender != &dev) return;
            threads.push_back(std::this_thread::get_id());
            char buf[9000];
            packages.emplace_back(buf, static_cast<std::size_t>(dev.Read(buf, sizeof buf)));
            ++ones;
        };
        dev.fSetPortName(pty.Slave());
        dev.fSetActive(true);
        dev.fSetPackageType(cptFrameTimeout);
        dev.fSetUsePackage(true);
    }
    bool Saw(int type) {
        return WaitFor([&] {
            std::lock_guard lock(mutex);
            return std::find(types.begin(), types.end(), type) != types.end();
        });
    }

    Pty pty;
    std::mutex mutex;
    std::vector<std::string> packages;
    std::vector<int> types;
    std::vector<std::thread::id> threads;
    std::atomic<int> ones{0};
    TRkCommDevice dev; // last: its threads stop before the members above go
};

} // namespace

TEST_F(Device, TimeoutPackageReachesOnPackageOffTheCallingThreadWithoutTheDispatcher) {
    std::atomic<int> dispatched{0};
    TRkCustomCommDevice::SetMainThreadDispatcher([&](std::function<void()> f) {
        ++dispatched;
        f();
    });
    Open();
    ASSERT_TRUE(dev.fGetActive());
    pty.Send("\x01\x02\x03");
    ASSERT_TRUE(WaitFor([&] { return ones == 1; }));
    dev.fSetActive(false);
    TRkCustomCommDevice::SetMainThreadDispatcher(nullptr);
    EXPECT_EQ(packages.at(0), "\x01\x02\x03");
    EXPECT_NE(threads.at(0), std::this_thread::get_id());
    EXPECT_EQ(dispatched, 0);
}

TEST_F(Device, OneByteWritesLeaveUnframedAndWaitWriteDrainedCoversPackagesAndEngine) {
    Open();
    for (char c : std::string("twenty bytes of data"))
        ASSERT_EQ(dev.Write(&c, 1), 1);
    std::string got;
    std::thread reader([&] { got = pty.Take(20); });
    EXPECT_TRUE(dev.WaitWriteDrained(5s));
    reader.join();
    EXPECT_EQ(got, "twenty bytes of data");
}

TEST_F(Device, SyncEventsDeliverEveryPackageOnTheMainThreadInOrder) {
    // This thread is the main thread: it runs what the dispatcher hands over.
    std::mutex workMutex;
    std::vector<std::function<void()>> work;
    TRkCustomCommDevice::SetMainThreadDispatcher([&](std::function<void()> f) {
        std::lock_guard lock(workMutex);
        work.push_back(std::move(f));
    });
    const auto runWork = [&] {
        std::vector<std::function<void()>> now;
        std::lock_guard lock(workMutex);
        now.swap(work);
        for (auto& f : now)
            f();
    };
    Open(10);
    dev.fSetSyncEvents(true);
    for (int i = 0; i < 3; ++i) {
        pty.Send("m" + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return runWork(), ones == i + 1; }));
    }
    dev.fSetActive(false);
    runWork();
    TRkCustomCommDevice::SetMainThreadDispatcher(nullptr);
    EXPECT_EQ(packages, (std::vector<std::string>{"m0", "m1", "m2"}));
    EXPECT_EQ(threads, std::vector<std::thread::id>(3, std::this_thread::get_id()));
}

struct ParamsCase {
    const char* text;
    const char* readBack;
};

class DevicePortParams : public ::testing::TestWithParam<ParamsCase> {};

TEST_P(DevicePortParams, TextSetsTheLineAndReadsBack) {
    TRkCommDevice dev;
    dev.fSetParity(ptOddParity); // what an empty parity field leaves alone
    dev.fSetPortParams(GetParam().text);
    EXPECT_EQ(dev.fGetPortParams(), GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DevicePortParams,
    ::testing::Values(ParamsCase{"COM5,57600,E,7,2", "COM5,57600,E,7,2"},
                      ParamsCase{"COM3", "COM3,9600,N,8,1"}, ParamsCase{"", "COM2,9600,N,8,1"},
                      ParamsCase{"COM1,,x,,", "COM1,0,N,0,1"}, ParamsCase{"COM1,9600, ,8", "COM1,9600,O,8,1"},
                      ParamsCase{"COM4,9600,n,8,1.50", "COM4,9600,N,8,1"},
                      ParamsCase{"COM4,9600,m,8,1.5", "COM4,9600,M,8,1.5"},
                      ParamsCase{"  com6 , 4800 , s , 264 , 2 ,junk", "COM6,4800,S,8,2"},
                      ParamsCase{"\"/dev/tty USB0\",99999999999", "/dev/tty USB0,4294967295,N,8,1"},
                      ParamsCase{"/dev/ttyACM0,115200abc,e", "/dev/ttyACM0,115200,E,8,1"}));

TEST(DeviceProperties, DefaultsAndOutOfRangeValues) {
    TRkCommDevice dev;
    EXPECT_EQ(dev.fGetPortParams(), "COM2,115200,N,8,1");
    EXPECT_EQ(dev.fGetPortNo(), 2);
    EXPECT_EQ(dev.fGetBaud(), br115200);
    EXPECT_EQ(dev.fGetFlowControl(), fcNone);
    EXPECT_TRUE(dev.fGetSyncEvents());
    EXPECT_FALSE(dev.fGetUsePackage());
    EXPECT_EQ((std::vector<long>{dev.fGetInBufSize(), dev.fGetOutBufSize(), dev.fGetHwInSize(),
                                 dev.fGetQueueSize(), dev.fGetPackageSize(), dev.fGetPackageInterval()}),
              (std::vector<long>{8192, 8192, 1200, 16, 4096, 50}));
    EXPECT_EQ(dev.fGetPackageType(), cptFrameTimeout);
    EXPECT_FALSE(dev.fGetActive());
    dev.fSetBaudRate(1000);
    EXPECT_EQ(dev.fGetBaud(), brCustom);
    dev.fSetBaud(brCustom);
    EXPECT_EQ(dev.fGetBaudRate(), 1000u) << "writing brCustom changes nothing";
    dev.fSetBaud(br56000);
    EXPECT_EQ(dev.fGetBaudRate(), 56000u);
    dev.fSetParity(static_cast<TParity>(9));
    EXPECT_EQ(dev.fGetParity(), ptNoParity);
    dev.fSetStopBits(static_cast<TStopBits>(7));
    EXPECT_EQ(dev.fGetStopBits(), sbOneStopBit);
    dev.fSetByteSize(300);
    EXPECT_EQ(dev.fGetByteSize(), 255);
    dev.fSetAutoAnswer(-4);
    EXPECT_EQ(dev.fGetAutoAnswer(), 0);
    dev.fSetFlowControl(fcTranXonXoff);
    EXPECT_EQ(dev.fGetFlowControl(), fcXonXoff);
    dev.fSetFlowControl(fcRtsCtsXonXoff);
    EXPECT_EQ(dev.fGetFlowControl(), fcRtsCtsXonXoff);
}

TEST(DeviceProperties, FrameSettingsStartAtTheirMarkersAndCopyThemButNotDoubling) {
    TRkCommDevice a, b;
    TRkCommFrameSettings& fa = *a.fGetFrameSettings();
    EXPECT_EQ((std::vector<int>{fa.fGetFrameHead(), fa.fGetFrameTail(), fa.fGetFrameCtrl()}),
              (std::vector<int>{0xEB, 0xEE, 0xEC}));
    fa.fSetFrameHead(0x01);
    fa.fSetFrameTail(0x02);
    fa.fSetFrameCtrl(0x03);
    fa.fSetDoubleFrameMark(true);
    b.fSetFrameSettings(fa);
    const TRkCommFrameSettings& fb = *b.fGetFrameSettings();
    EXPECT_EQ((std::vector<int>{fb.fGetFrameHead(), fb.fGetFrameTail(), fb.fGetFrameCtrl()}),
              (std::vector<int>{0x01, 0x02, 0x03}));
    EXPECT_FALSE(fb.fGetDoubleFrameMark());
}

TEST_F(Device, UsePackageOnAnOpenPortActivatesPackagesWithoutReopening) {
    std::atomic<int> opens{0};
    dev.AfterOpen = [&](TObject*) { ++opens; };
    dev.fSetPortName(pty.Slave());
    dev.fSetActive(true);
    dev.fSetUsePackage(true);
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(dev.fGetActive());
    EXPECT_TRUE(dev.Package()->fGetActive());
    dev.Package()->fSetActive(false);
    EXPECT_FALSE(dev.fGetActive()) << "both must be active";
    dev.Package()->fSetActive(true);
    dev.fSetUsePackage(false);
    EXPECT_TRUE(dev.fGetActive());
    EXPECT_FALSE(dev.Package()->fGetActive());
}

TEST_F(Device, PortSelectionSettersCloseAndPackageSettingsDoNot) {
    dev.fSetPortName(pty.Slave());
    dev.fSetActive(true);
    dev.fSetByteSize(8);
    EXPECT_FALSE(dev.fGetActive());
    dev.fSetActive(true);
    dev.fSetBaudRate(19200);
    EXPECT_FALSE(dev.fGetActive());
    dev.fSetActive(true);
    dev.fSetPackageInterval(30);
    dev.fSetQueueSize(8);
    EXPECT_TRUE(dev.fGetActive());
}

TEST(DeviceActive, FailedOpenRaisesAndLeavesThePackageLayerAlone) {
    TRkCommDevice dev;
    dev.fSetUsePackage(true);
    dev.fSetPortName("/dev/evb-missing");
    EXPECT_THROW(dev.fSetActive(true), ETalonCommError);
    EXPECT_FALSE(dev.fGetActive());
    EXPECT_FALSE(dev.Package()->fGetActive());
}

TEST_F(Device, HangupReachesOnPackageAsNonOneTypeAndActiveTurnsFalse) {
    Open();
    pty.Close();
    ASSERT_TRUE(Saw(evHangup));
    EXPECT_FALSE(dev.fGetActive());
}

TEST_F(Device, ClosingWaitsForAPackageHandlerUnderWay) {
    // The owner may drop its handler once the port is closed (the main window does so when it
    // goes away): no handler may still be running then.
    std::atomic<bool> inHandler{false}, closed{false}, overlap{false}, handlerDone{false};
    dev.fSetSyncEvents(false);
    dev.fSetPackageInterval(1);
    dev.OnPackage = [&](TObject*, int type) {
        if (type != 1) return;
        inHandler = true;
        WaitFor([&] { return closed.load(); }, 300ms);
        overlap = closed.load();
        handlerDone = true;
    };
    dev.fSetPortName(pty.Slave());
    dev.fSetUsePackage(true);
    dev.fSetActive(true);
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
    const int before = ones;
    pty.Send("end");
    EXPECT_TRUE(WaitFor([&] { return ones > before; }));
}
