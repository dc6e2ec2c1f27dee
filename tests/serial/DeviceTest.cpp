// The serial device component: package delivery, Active/UsePackage, event routing.

#include "PtyPair.h"
#include "serial/TRkCommDevice.h"

#include <atomic>
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
    TRkCommDevice dev;
    std::mutex mutex;
    std::vector<std::string> packages;
    std::vector<int> types;
    std::atomic<int> ones{0};
    std::thread::id handlerThread;

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
