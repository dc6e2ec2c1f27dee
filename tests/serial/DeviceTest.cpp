// The serial device component: package delivery, Active/UsePackage, event routing.

#include "PtyPair.h"
#include "serial/TRkCommDevice.h"

#include "serial/ETalonCommError.h"
#include "serial/TCommPackage.h"
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace TalonComm;
using evbtest::PtyPair;
using evbtest::WaitFor;

namespace {

// The main window's set-up: time-out packages, events on the worker thread.
struct OpenDevice {
    PtyPair pty;
    std::mutex mutex;
    std::vector<std::string> packages;
    std::vector<int> types;
    std::atomic<int> ones{0};
    std::thread::id handlerThread;
    TRkCommDevice dev; // last: its threads stop before the members above go

    explicit OpenDevice(std::uint32_t interval = 50) {
        dev.fSetSyncEvents(false);
        dev.fSetPackageInterval(interval);
        dev.OnPackage = [this](TObject*, int type) {
            std::lock_guard<std::mutex> lock(mutex);
            types.push_back(type);
            if (type != 1) return;
            handlerThread = std::this_thread::get_id();
            char buf[9000];
            const long n = dev.Read(buf, sizeof buf);
            packages.emplace_back(buf, static_cast<size_t>(n));
            ++ones;
        };
        dev.fSetPortName(pty.SlavePath());
        dev.fSetActive(true);
        dev.fSetPackageType(cptFrameTimeout);
        dev.fSetUsePackage(true);
    }
};

} // namespace

TEST(DevicePackages, TimeoutPackageReachesOnPackageWithType1OffTheCallingThread) {
    OpenDevice d;
    ASSERT_TRUE(d.dev.fGetActive());
    d.pty.WriteMaster("\x01\x02\x03");
    ASSERT_TRUE(WaitFor([&] { return d.ones.load() == 1; }));
    std::lock_guard<std::mutex> lock(d.mutex);
    EXPECT_EQ(d.packages.at(0), "\x01\x02\x03");
    EXPECT_NE(d.handlerThread, std::this_thread::get_id());
}

TEST(DevicePackages, OneByteWritesLeaveUnframed) {
    OpenDevice d;
    const unsigned char frame[] = {0x3A, 0x01, 0xEB, 0x40};
    for (unsigned char b : frame)
        EXPECT_EQ(d.dev.Write(&b, 1), 1);
    const auto out = d.pty.ReadMaster(4);
    EXPECT_EQ(out, std::vector<unsigned char>(frame, frame + 4));
}

// ---- PortParams ----

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

TEST(DeviceProperties, NewDeviceStartsAtTheDeclaredDefaults) {
    TRkCommDevice dev;
    EXPECT_EQ(dev.fGetPortParams(), "COM2,115200,N,8,1");
    EXPECT_EQ(dev.fGetPortNo(), 2);
    EXPECT_EQ(dev.fGetBaud(), br115200);
    EXPECT_EQ(dev.fGetFlowControl(), fcNone);
    EXPECT_TRUE(dev.fGetSyncEvents());
    EXPECT_FALSE(dev.fGetUsePackage());
    EXPECT_EQ(dev.fGetInBufSize(), 8192);
    EXPECT_EQ(dev.fGetOutBufSize(), 8192);
    EXPECT_EQ(dev.fGetHwInSize(), 1200);
    EXPECT_EQ(dev.fGetQueueSize(), 16u);
    EXPECT_EQ(dev.fGetPackageSize(), 4096u);
    EXPECT_EQ(dev.fGetPackageType(), cptFrameTimeout);
    EXPECT_EQ(dev.fGetPackageInterval(), 50u);
    EXPECT_EQ(dev.fGetFrameSettings()->fGetFrameHead(), 0xEB);
    EXPECT_EQ(dev.fGetFrameSettings()->fGetFrameTail(), 0xEE);
    EXPECT_EQ(dev.fGetFrameSettings()->fGetFrameCtrl(), 0xEC);
    EXPECT_FALSE(dev.fGetActive());
}

TEST(DeviceProperties, CustomBaudReadsBrCustomAndWritingBrCustomChangesNothing) {
    TRkCommDevice dev;
    dev.fSetBaudRate(1000);
    EXPECT_EQ(dev.fGetBaud(), brCustom);
    dev.fSetBaud(brCustom);
    EXPECT_EQ(dev.fGetBaudRate(), 1000u);
    dev.fSetBaud(br56000);
    EXPECT_EQ(dev.fGetBaudRate(), 56000u);
}

TEST(DeviceProperties, OutOfRangeEnumsAndNumbersAreMappedOrClamped) {
    TRkCommDevice dev;
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

TEST(DeviceProperties, FrameSettingsAssignmentCopiesMarkersButNotDoubling) {
    TRkCommDevice a, b;
    a.fGetFrameSettings()->fSetFrameHead(0x01);
    a.fGetFrameSettings()->fSetFrameTail(0x02);
    a.fGetFrameSettings()->fSetFrameCtrl(0x03);
    a.fGetFrameSettings()->fSetDoubleFrameMark(true);
    b.fSetFrameSettings(*a.fGetFrameSettings());
    EXPECT_EQ(b.fGetFrameSettings()->fGetFrameHead(), 0x01);
    EXPECT_EQ(b.fGetFrameSettings()->fGetFrameTail(), 0x02);
    EXPECT_EQ(b.fGetFrameSettings()->fGetFrameCtrl(), 0x03);
    EXPECT_FALSE(b.fGetFrameSettings()->fGetDoubleFrameMark());
}

// ---- Active and UsePackage ----

TEST(DeviceActive, UsePackageOnAnOpenPortActivatesPackagesWithoutReopening) {
    PtyPair pty;
    TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    std::atomic<int> opens{0};
    dev.AfterOpen = [&](TObject*) { ++opens; };
    dev.fSetPortName(pty.SlavePath());
    dev.fSetActive(true);
    dev.fSetUsePackage(true);
    EXPECT_EQ(opens.load(), 1);
    EXPECT_TRUE(dev.fGetActive());
    EXPECT_TRUE(dev.Package()->fGetActive());
    dev.Package()->fSetActive(false);
    EXPECT_FALSE(dev.fGetActive()) << "both must be active";
    dev.Package()->fSetActive(true);
    dev.fSetUsePackage(false);
    EXPECT_TRUE(dev.fGetActive());
    EXPECT_FALSE(dev.Package()->fGetActive());
}

TEST(DeviceActive, PortSelectionSettersCloseAndOnlyActiveReopens) {
    PtyPair pty;
    TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    dev.fSetPortName(pty.SlavePath());
    dev.fSetActive(true);
    dev.fSetByteSize(8);
    EXPECT_FALSE(dev.fGetActive());
    dev.fSetActive(true);
    dev.fSetBaudRate(19200);
    EXPECT_FALSE(dev.fGetActive());
    dev.fSetActive(true);
    dev.fSetPackageInterval(30);
    dev.fSetQueueSize(8);
    EXPECT_TRUE(dev.fGetActive()) << "package settings never close the port";
}

TEST(DeviceActive, FailedOpenRaisesAndLeavesThePackageLayerAlone) {
    TRkCommDevice dev;
    dev.fSetUsePackage(true);
    dev.fSetPortName("/dev/evb-missing");
    EXPECT_THROW(dev.fSetActive(true), ETalonCommError);
    EXPECT_FALSE(dev.fGetActive());
    EXPECT_FALSE(dev.Package()->fGetActive());
}

TEST(DeviceActive, HangupReachesOnPackageAsNonOneTypeAndActiveTurnsFalse) {
    auto d = std::make_unique<OpenDevice>();
    d->pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> lock(d->mutex);
        return std::find(d->types.begin(), d->types.end(), static_cast<int>(evHangup)) != d->types.end();
    }));
    EXPECT_FALSE(d->dev.fGetActive());
}

// ---- event routing ----

namespace {

// A main thread of its own: runs what the dispatcher hands it, in order.
class MainLoop {
  public:
    MainLoop() : m_thread([this] { run(); }) {}
    ~MainLoop() {
        post(nullptr);
        m_thread.join();
    }
    void post(std::function<void()> f) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_work.push_back(std::move(f));
        }
        m_cv.notify_one();
    }
    std::thread::id id() const { return m_thread.get_id(); }
    // Returns once everything posted so far has run.
    void flush() {
        std::atomic<bool> done{false};
        post([&] { done = true; });
        WaitFor([&] { return done.load(); });
    }

  private:
    void run() {
        while (true) {
            std::function<void()> f;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return !m_work.empty(); });
                f = std::move(m_work.front());
                m_work.erase(m_work.begin());
            }
            if (!f) return;
            f();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::function<void()>> m_work;
    std::thread m_thread;
};

} // namespace

TEST(DeviceEvents, SyncEventsTrueDeliversEveryPackageOnTheMainThreadInOrder) {
    MainLoop loop;
    TRkCustomCommDevice::SetMainThreadDispatcher([&](std::function<void()> f) { loop.post(std::move(f)); });
    {
        PtyPair pty;
        TRkCommDevice dev;
        dev.fSetPackageInterval(10);
        std::mutex mutex;
        std::vector<std::thread::id> threads;
        std::vector<std::string> packages;
        dev.OnPackage = [&](TObject* sender, int type) {
            EXPECT_EQ(sender, &dev);
            if (type != 1) return;
            char buf[64];
            const long n = dev.Read(buf, sizeof buf);
            std::lock_guard<std::mutex> lock(mutex);
            threads.push_back(std::this_thread::get_id());
            packages.emplace_back(buf, static_cast<size_t>(n));
        };
        dev.fSetPortName(pty.SlavePath());
        dev.fSetUsePackage(true);
        dev.fSetActive(true);
        for (int i = 0; i < 3; ++i) {
            pty.WriteMaster("m" + std::to_string(i));
            ASSERT_TRUE(WaitFor([&] {
                std::lock_guard<std::mutex> lock(mutex);
                return packages.size() == static_cast<size_t>(i + 1);
            }));
        }
        dev.fSetActive(false);
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(packages, (std::vector<std::string>{"m0", "m1", "m2"}));
        for (auto id : threads)
            EXPECT_EQ(id, loop.id());
        // The device belongs to the loop's thread in the program; here it dies on another
        // thread, so the loop must be idle first.
        loop.flush();
    }
    TRkCustomCommDevice::SetMainThreadDispatcher(nullptr);
}

TEST(DeviceEvents, SyncEventsFalseNeverUsesTheDispatcher) {
    std::atomic<int> dispatched{0};
    TRkCustomCommDevice::SetMainThreadDispatcher([&](std::function<void()> f) {
        ++dispatched;
        f();
    });
    {
        OpenDevice d;
        d.pty.WriteMaster("x");
        ASSERT_TRUE(WaitFor([&] { return d.ones.load() == 1; }));
    }
    TRkCustomCommDevice::SetMainThreadDispatcher(nullptr);
    EXPECT_EQ(dispatched.load(), 0);
}

TEST(DeviceEvents, WaitWriteDrainedCoversPackagesAndEngine) {
    OpenDevice d;
    for (char c : std::string("twenty bytes of data"))
        ASSERT_EQ(d.dev.Write(&c, 1), 1);
    std::vector<unsigned char> got;
    std::thread reader([&] { got = d.pty.ReadMaster(20); });
    EXPECT_TRUE(d.dev.WaitWriteDrained(std::chrono::seconds(5)));
    reader.join();
    EXPECT_EQ(std::string(got.begin(), got.end()), "twenty bytes of data");
}

TEST(DeviceActive, ClosingWaitsForAPackageHandlerUnderWay) {
    // The owner may drop its handler once the port is closed (the main window does so when it
    // goes away): no handler may still be running then.
    PtyPair pty;
    std::atomic<bool> inHandler{false}, closed{false}, overlap{false}, handlerDone{false};
    TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    dev.fSetPackageInterval(1);
    dev.OnPackage = [&](TObject*, int type) {
        if (type != 1) return;
        inHandler = true;
        WaitFor([&] { return closed.load(); }, std::chrono::milliseconds(300));
        if (closed.load()) overlap = true;
        handlerDone = true;
    };
    dev.fSetPortName(pty.SlavePath());
    dev.fSetActive(true);
    dev.fSetPackageType(cptFrameTimeout);
    dev.fSetUsePackage(true);
    pty.WriteMaster("a");
    ASSERT_TRUE(WaitFor([&] { return inHandler.load(); }));
    dev.fSetActive(false);
    closed = true;
    ASSERT_TRUE(WaitFor([&] { return handlerDone.load(); }));
    EXPECT_FALSE(overlap.load());
}

TEST(DeviceActive, ReceiveRingResizedUnderLivePackagesKeepsWorking) {
    // The package layer's timer thread reads the ring that a resize replaces: unless the layer
    // stands still around it, ThreadSanitizer reports the race (and ASan the use after free
    // when a copy is under way as the ring goes).
    OpenDevice d(1);
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop.load())
            d.pty.WriteMaster("xyz");
    });
    for (int i = 0; i < 20; ++i)
        d.dev.fSetInBufSize(4096 + i);
    stop = true;
    feeder.join();
    EXPECT_TRUE(d.dev.fGetActive());
    const int before = d.ones.load();
    d.pty.WriteMaster("end");
    EXPECT_TRUE(WaitFor([&] { return d.ones.load() > before; }));
}
