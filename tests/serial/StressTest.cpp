// Volume: megabytes through the package layer and the engine below it with no byte lost or
// reordered; descriptors and threads over many open/close and hang-up cycles.

#include "Harness.h"
#include "serial/TCommPackage.h"
#include "serial/TRkCommDevice.h"
#include "serial/TTalonComm.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

using namespace TalonComm;
using namespace evbtest;

namespace {

// Descriptors or threads of this process.
int countEntries(const char* dir) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

constexpr std::size_t kVolume = 10 * 1024 * 1024;

// Deterministic bytes that include the frame markers often.
char patternByte(std::size_t i) {
    const std::uint32_t x = static_cast<std::uint32_t>(i) * 2654435761u;
    return static_cast<char>((x >> 13) ^ (x >> 24));
}

// Checks a byte stream against the pattern as it arrives (one thread at a time).
struct PatternCheck {
    void Take(const char* p, std::size_t n) {
        std::size_t at = received;
        for (std::size_t i = 0; i < n; ++i, ++at)
            if (p[i] != patternByte(at) && firstBad == SIZE_MAX) firstBad = at;
        received = at;
    }
    std::atomic<std::size_t> received{0}, firstBad{SIZE_MAX};
};

std::vector<char> patternBlock(std::size_t at, std::size_t n) {
    std::vector<char> b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = patternByte(at + i);
    return b;
}

// Copies everything the program sends straight back to it, until stopped.
std::jthread Echo(Pty& pty) {
    return std::jthread([&pty](std::stop_token stop) {
        while (!stop.stop_requested())
            pty.Send(pty.Take(65536, 2ms));
    });
}

// A package device on the pseudo-terminal, its events on its own threads.
void openDevice(TRkCommDevice& dev, const Pty& pty, TCommPackageType type) {
    dev.fSetSyncEvents(false);
    dev.fSetPackageType(type);
    dev.fSetPortName(pty.Slave());
    dev.fSetUsePackage(true);
    dev.fSetActive(true);
}

} // namespace

TEST(Stress, TenMegabytesOfFramedPackagesSurviveTheRoundTrip) {
    Pty pty;
    TRkCommDevice dev;
    dev.fSetPackageSize(4096);
    PatternCheck check;
    std::atomic<int> packages{0};
    // Runs on the engine's read thread: packages are taken as soon as they are decoded.
    dev.OnPackage = [&](TObject*, int mask) {
        if (!(mask & evRxChar)) return;
        std::vector<char> buf(4096);
        while (const unsigned long n = dev.ReadPackage(buf.data(), static_cast<unsigned long>(buf.size()))) {
            check.Take(buf.data(), n);
            ++packages;
        }
    };
    openDevice(dev, pty, cptFrameHeadTail);
    const std::jthread echo = Echo(pty);
    int sent = 0;
    for (std::size_t at = 0; at < kVolume; at += 4096, ++sent) {
        const auto block = patternBlock(at, std::min<std::size_t>(4096, kVolume - at));
        while (dev.Write(block.data(), static_cast<long>(block.size())) == 0)
            ASSERT_TRUE(dev.Engine()->WaitUntil([&] { return dev.Package()->TransmitQueue()->Remain() > 0; },
                                                std::chrono::steady_clock::now() + 20s));
    }
    ASSERT_TRUE(WaitFor([&] { return check.received >= kVolume; }, 120s));
    dev.fSetActive(false);
    EXPECT_EQ(check.received, kVolume);
    EXPECT_EQ(packages, sent);
    EXPECT_EQ(check.firstBad, SIZE_MAX) << "first wrong byte";
}

// The transmit path's pattern: wait for room for a whole frame, then write it. Many thousands of
// frames while the read thread's transmit-empty events run the send step concurrently: no wait
// may give up, and every frame arrives whole and in order.
TEST(Stress, FramesWrittenAfterWaitingForRoomNeverStall) {
    Pty pty;
    TRkCommDevice dev;
    dev.fSetOutBufSize(256); // a small queue keeps the writer waiting for room most of the time
    openDevice(dev, pty, cptFrameTimeout);
    constexpr std::size_t kFrames = 50000, kFrameSize = 20;
    PatternCheck check;
    std::jthread reader([&](std::stop_token stop) { // stopped and joined however the test ends
        while (!stop.stop_requested() && check.received < kFrames * kFrameSize) {
            const std::string got = pty.Take(97, 50ms); // odd-sized reads keep the driver's buffer part full
            check.Take(got.data(), got.size());
        }
    });
    for (std::size_t f = 0; f < kFrames; ++f) {
        const auto frame = patternBlock(f * kFrameSize, kFrameSize);
        ASSERT_TRUE(dev.WaitWriteRoom(kFrameSize, 5s))
            << "a wait for room gave up with the line idle, frame " << f << ": "
            << dev.Package()->TransmitQueue()->Count() << " package(s) left queued, send pending "
            << dev.Package()->SendPending();
        ASSERT_EQ(dev.Write(frame.data(), kFrameSize), static_cast<long>(kFrameSize));
    }
    EXPECT_TRUE(WaitFor([&] { return check.received >= kFrames * kFrameSize; }, 60s));
    reader.request_stop();
    reader.join();
    dev.fSetActive(false);
    EXPECT_EQ(check.received, kFrames * kFrameSize);
    EXPECT_EQ(check.firstBad, SIZE_MAX) << "first wrong byte";
}

TEST(Stress, OpenCloseAndHangupCyclesLeaveNoDescriptorOrThread) {
    Pty pty;
    auto dev = std::make_unique<TRkCommDevice>();
    // One cycle first: runtimes (sanitizers) start helper threads with the first thread.
    openDevice(*dev, pty, cptFrameTimeout);
    dev->fSetActive(false);
    const int fds = countEntries("/proc/self/fd");
    const int threads = countEntries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        dev->fSetActive(true);
        ASSERT_TRUE(dev->fGetActive());
        dev->Write("x", 1);
        dev->fSetActive(false);
    }
    for (int i = 0; i < 50; ++i) {
        Pty gone;
        dev->fSetPortName(gone.Slave());
        dev->fSetActive(true);
        gone.Close();
        ASSERT_TRUE(WaitFor([&] { return !dev->fGetActive(); }));
    }
    dev->fSetActive(false);
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    // A joined thread can stay listed in /proc for a moment while the kernel finishes its exit.
    EXPECT_TRUE(WaitFor([&] { return countEntries("/proc/self/task") == threads; }))
        << countEntries("/proc/self/task") << " threads, " << threads << " before";
    dev.reset();
    EXPECT_TRUE(WaitFor([&] { return countEntries("/proc/self/task") == threads - 1; }))
        << "the package timer thread ends with its device";
}
