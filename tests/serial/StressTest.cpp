// Volume and lifecycle: many megabytes through the engine and the package layer with no byte
// lost or reordered, and many open/close cycles with nothing left behind.

#include "PtyPair.h"
#include "serial/TCommPackage.h"
#include "serial/TRkCommDevice.h"
#include "serial/TTalonComm.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace TalonComm;
using evbtest::PtyPair;
using evbtest::WaitFor;

namespace {

constexpr size_t kVolume = 10 * 1024 * 1024;

int countEntries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

// Deterministic bytes that include the frame markers often.
std::uint8_t patternByte(size_t i) {
    const std::uint32_t x = static_cast<std::uint32_t>(i) * 2654435761u;
    return static_cast<std::uint8_t>((x >> 13) ^ (x >> 24));
}

// Copies everything the program sends straight back to it, until stopped.
class Echo {
  public:
    explicit Echo(int master) : m_master(master), m_thread([this] { run(); }) {}
    ~Echo() {
        m_stop = true;
        m_thread.join();
    }

  private:
    void run() {
        std::vector<unsigned char> buf(65536);
        while (!m_stop) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) continue;
            const ssize_t n = ::read(m_master, buf.data(), buf.size());
            if (n <= 0) continue;
            ssize_t done = 0;
            while (done < n && !m_stop) {
                const ssize_t k = ::write(m_master, buf.data() + done, static_cast<size_t>(n - done));
                if (k > 0) {
                    done += k;
                } else {
                    pollfd out{m_master, POLLOUT, 0};
                    ::poll(&out, 1, 20);
                }
            }
        }
    }
    int m_master;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

TEST(Stress, TenMegabytesThroughTheEngineArriveWholeAndInOrder) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    Echo echo(pty.Master());

    std::atomic<size_t> received{0};
    std::atomic<size_t> firstBad{SIZE_MAX};
    std::thread consumer([&] {
        std::vector<char> buf(4096);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        size_t at = 0;
        while (at < kVolume && std::chrono::steady_clock::now() < deadline) {
            const long n = comm.Read(buf.data(), static_cast<long>(buf.size()));
            if (n <= 0) {
                std::this_thread::yield();
                continue;
            }
            for (long i = 0; i < n; ++i, ++at)
                if (static_cast<std::uint8_t>(buf[static_cast<size_t>(i)]) != patternByte(at) &&
                    firstBad == SIZE_MAX)
                    firstBad = at;
            received = at;
        }
    });
    std::vector<char> block(4096);
    for (size_t at = 0; at < kVolume;) {
        const size_t n = std::min(block.size(), kVolume - at);
        for (size_t i = 0; i < n; ++i)
            block[i] = static_cast<char>(patternByte(at + i));
        ASSERT_TRUE(comm.WaitWriteRoom(static_cast<long>(n), std::chrono::seconds(20)));
        ASSERT_EQ(comm.Write(block.data(), static_cast<long>(n)), static_cast<long>(n));
        at += n;
    }
    consumer.join();
    EXPECT_EQ(received.load(), kVolume);
    EXPECT_EQ(firstBad.load(), SIZE_MAX) << "first wrong byte";
}

TEST(Stress, TenMegabytesOfFramedPackagesSurviveTheRoundTrip) {
    PtyPair pty;
    TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    dev.fSetPackageType(cptFrameHeadTail);
    dev.fSetPackageSize(4096);
    std::atomic<size_t> received{0};
    std::atomic<size_t> firstBad{SIZE_MAX};
    std::atomic<int> packages{0};
    // Runs on the engine's read thread: packages are taken as soon as they are decoded.
    dev.OnPackage = [&](TObject*, int mask) {
        if (!(mask & evRxChar)) return;
        std::vector<char> buf(4096);
        unsigned long n;
        while ((n = dev.ReadPackage(buf.data(), static_cast<unsigned long>(buf.size()))) > 0) {
            size_t at = received;
            for (unsigned long i = 0; i < n; ++i, ++at)
                if (static_cast<std::uint8_t>(buf[i]) != patternByte(at) && firstBad == SIZE_MAX)
                    firstBad = at;
            received = at;
            ++packages;
        }
    };
    dev.fSetPortName(pty.SlavePath());
    dev.fSetUsePackage(true);
    dev.fSetActive(true);
    Echo echo(pty.Master());

    std::vector<char> block(4096);
    int sent = 0;
    for (size_t at = 0; at < kVolume; ++sent) {
        const size_t n = std::min(block.size(), kVolume - at);
        for (size_t i = 0; i < n; ++i)
            block[i] = static_cast<char>(patternByte(at + i));
        while (dev.Write(block.data(), static_cast<long>(n)) == 0) {
            ASSERT_TRUE(dev.Engine()->WaitUntil([&] { return dev.Package()->TransmitQueue()->Remain() > 0; },
                                                std::chrono::steady_clock::now() + std::chrono::seconds(20)));
        }
        at += n;
    }
    ASSERT_TRUE(WaitFor([&] { return received.load() >= kVolume; }, std::chrono::seconds(120)));
    dev.fSetActive(false);
    EXPECT_EQ(received.load(), kVolume);
    EXPECT_EQ(packages.load(), sent);
    EXPECT_EQ(firstBad.load(), SIZE_MAX) << "first wrong byte";
}

TEST(Stress, ThousandOpenCloseCyclesLeaveNoDescriptorOrThread) {
    PtyPair pty;
    auto dev = std::make_unique<TRkCommDevice>();
    dev->fSetSyncEvents(false);
    dev->fSetPortName(pty.SlavePath());
    dev->fSetUsePackage(true);
    const int fds = countEntries("/proc/self/fd");
    const int threads = countEntries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        dev->fSetActive(true);
        ASSERT_TRUE(dev->fGetActive());
        dev->Write("x", 1);
        dev->fSetActive(false);
    }
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    EXPECT_EQ(countEntries("/proc/self/task"), threads);
    dev.reset();
    EXPECT_EQ(countEntries("/proc/self/task"), threads - 1)
        << "the package timer thread ends with its device";
}

TEST(Stress, HangupsAndReopensLeaveNoDescriptorOrThread) {
    TTalonComm comm;
    {
        // One cycle first: runtimes (sanitizers) start helper threads with the first thread.
        PtyPair warmUp;
        comm.fSetPortName(warmUp.SlavePath());
        comm.fSetActive(true);
        comm.fSetActive(false);
    }
    const int fds = countEntries("/proc/self/fd");
    const int threads = countEntries("/proc/self/task");
    for (int i = 0; i < 50; ++i) {
        PtyPair pty;
        comm.fSetPortName(pty.SlavePath());
        comm.fSetActive(true);
        pty.CloseMaster();
        ASSERT_TRUE(WaitFor([&] { return !comm.fGetActive(); }));
    }
    comm.fSetActive(false);
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    EXPECT_EQ(countEntries("/proc/self/task"), threads);
}

// The transmit path's pattern: wait for room for a whole frame, then write it. Many thousands of
// frames while the read thread's transmit-empty events run the send step concurrently: no wait
// may give up, and every frame arrives whole and in order.
TEST(Stress, FramesWrittenAfterWaitingForRoomNeverStall) {
    PtyPair pty;
    TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    dev.fSetOutBufSize(256); // a small queue keeps the writer waiting for room most of the time
    dev.fSetPortName(pty.SlavePath());
    dev.fSetPackageType(cptFrameTimeout);
    dev.fSetUsePackage(true);
    dev.fSetActive(true);

    constexpr size_t kFrames = 50000;
    constexpr size_t kFrameSize = 20;
    std::atomic<size_t> received{0};
    std::atomic<size_t> firstBad{SIZE_MAX};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        unsigned char buf[97]; // odd-sized reads keep the driver's buffer part full
        size_t at = 0;
        while (!stop && at < kFrames * kFrameSize) {
            pollfd pfd{pty.Master(), POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            const ssize_t n = ::read(pty.Master(), buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i, ++at)
                if (buf[i] != patternByte(at) && firstBad == SIZE_MAX) firstBad = at;
            if (n > 0) received = at;
        }
    });

    size_t stalled = 0;
    std::vector<char> frame(kFrameSize);
    for (size_t f = 0; f < kFrames; ++f) {
        for (size_t i = 0; i < kFrameSize; ++i)
            frame[i] = static_cast<char>(patternByte(f * kFrameSize + i));
        if (!dev.WaitWriteRoom(static_cast<long>(kFrameSize), std::chrono::seconds(5))) {
            ++stalled;
            ADD_FAILURE() << "frame " << f << ": " << dev.Package()->TransmitQueue()->Count()
                          << " package(s) left queued, send pending " << dev.Package()->SendPending();
            break;
        }
        ASSERT_EQ(dev.Write(frame.data(), static_cast<long>(kFrameSize)), static_cast<long>(kFrameSize));
    }
    EXPECT_EQ(stalled, 0u) << "a wait for room gave up with the line idle";
    EXPECT_TRUE(WaitFor([&] { return received.load() >= kFrames * kFrameSize; }, std::chrono::seconds(60)));
    stop = true;
    reader.join();
    dev.fSetActive(false);
    EXPECT_EQ(received.load(), kFrames * kFrameSize);
    EXPECT_EQ(firstBad.load(), SIZE_MAX) << "first wrong byte";
}
