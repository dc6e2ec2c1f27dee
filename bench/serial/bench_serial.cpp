// Serial layer figures, as ratios against references measured in the same run:
//  - engine throughput through a pseudo-terminal vs a plain read/write loop on a pty pair;
//  - wake-ups per second of the evb-* threads on an open, idle port (target 0);
//  - the same while the driver holds output back (flow control stopped; target 0).

#include "serial/TLineIo.h"
#include "serial/TRkCommDevice.h"
#include "serial/TTalonComm.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace TalonComm;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kVolume = 32 * 1024 * 1024;

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) || unlockpt(master)) throw std::runtime_error("no pty");
        slave = ptsname(master);
        termios tio{};
        tcgetattr(master, &tio);
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    ~Pty() { ::close(master); }
};

constexpr std::size_t kBlock = 4096;

// Reads kVolume bytes from fd, blocking in poll.
void drainFd(int fd) {
    std::vector<char> buf(65536);
    size_t got = 0;
    while (got < kVolume) {
        pollfd pfd{fd, POLLIN, 0};
        ::poll(&pfd, 1, 1000);
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n > 0) got += static_cast<size_t>(n);
    }
}

double plainLoopMBps() {
    Pty pty;
    const int slave = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const auto t0 = Clock::now();
    std::thread reader([&] { drainFd(pty.master); });
    // The same block size the engine is given below: the two differ only in what lies between
    // the caller and the descriptor.
    std::vector<char> block(kBlock, 'p');
    for (size_t sent = 0; sent < kVolume;) {
        const ssize_t n = ::write(slave, block.data(), block.size());
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else {
            pollfd pfd{slave, POLLOUT, 0};
            ::poll(&pfd, 1, 1000);
        }
    }
    reader.join();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    ::close(slave);
    return kVolume / s / 1e6;
}

double engineMBps() {
    Pty pty;
    TTalonComm comm;
    comm.fSetPortName(pty.slave);
    comm.fSetActive(true);
    const auto t0 = Clock::now();
    std::thread reader([&] { drainFd(pty.master); });
    std::vector<char> block(kBlock, 'e');
    for (size_t sent = 0; sent < kVolume;) {
        comm.WaitWriteRoom(static_cast<long>(block.size()), std::chrono::seconds(5));
        sent += static_cast<size_t>(comm.Write(block.data(), static_cast<long>(block.size())));
    }
    reader.join();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    comm.fSetActive(false);
    return kVolume / s / 1e6;
}

// Context switches of every evb-* thread of this process.
long evbSwitches(int& threads) {
    long total = 0;
    threads = 0;
    DIR* d = ::opendir("/proc/self/task");
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string name;
        std::getline(std::ifstream(base + "/comm"), name);
        if (name.rfind("evb-", 0) != 0) continue;
        ++threads;
        std::ifstream status(base + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + line.find(':') + 1);
    }
    ::closedir(d);
    return total;
}

// A driver that holds its output back, as under flow control: bytes stay in its queue and a
// wait for them to drain lasts until the engine interrupts it.
class HeldLine : public TLineIo {
  public:
    int OutQueue(int) override { return 64; }
    int WaitDrained(int) override {
        pollfd none{-1, 0, 0};
        return ::poll(&none, 1, -1) < 0 ? errno : 0;
    }
};

double wakeupsPerSecond(double seconds) {
    int threads = 0;
    const long before = evbSwitches(threads);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long after = evbSwitches(threads);
    return (after - before) / std::chrono::duration<double>(Clock::now() - t0).count();
}

double heldOutputWakeupsPerSecond() {
    Pty pty;
    HeldLine held;
    TRkCommDevice dev;
    dev.Engine()->SetLineIo(&held);
    dev.fSetSyncEvents(false);
    dev.fSetPortName(pty.slave);
    dev.fSetUsePackage(true);
    dev.fSetActive(true);
    dev.Write("x", 1);
    // The writer looks once when the bytes should have left the wire, then waits in the driver.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double perSecond = wakeupsPerSecond(3.0);
    dev.fSetActive(false);
    return perSecond;
}

} // namespace

int main(int argc, char* argv[]) {
    // Alternating pairs, so both sides see the same machine; the figures are the pairs' medians.
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<double> plains, engines, ratios;
    for (int i = 0; i < pairs; ++i) {
        plains.push_back(plainLoopMBps());
        engines.push_back(engineMBps());
        ratios.push_back(engines.back() / plains.back());
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    };
    const double plain = median(plains);
    const double engine = median(engines);
    const double ratio = median(ratios);

    Pty pty;
    TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    dev.fSetPortName(pty.slave);
    dev.fSetUsePackage(true);
    dev.fSetActive(true);
    // Let the open settle: the threads reach their blocking waits.
    dev.WaitWriteDrained(std::chrono::seconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int threads = 0;
    const long before = evbSwitches(threads);
    const auto t0 = Clock::now();
    const double idleSeconds = 3.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    const long after = evbSwitches(threads);
    const double perSecond = (after - before) / std::chrono::duration<double>(Clock::now() - t0).count();
    dev.fSetActive(false);
    const double heldPerSecond = heldOutputWakeupsPerSecond();

    std::printf("%-44s %12s\n", "figure", "value");
    std::printf("%-44s %12.1f\n", "plain pty read/write loop, MB/s (reference)", plain);
    std::printf("%-44s %12.1f\n", "engine through pty, MB/s", engine);
    std::printf("%-44s %12.2f\n", "engine / plain loop (ratio)", ratio);
    std::printf("%-44s %12d\n", "evb-* threads on the idle open port", threads);
    std::printf("%-44s %12.2f\n", "evb-* wake-ups per second while idle", perSecond);
    std::printf("%-44s %12.2f\n", "evb-* wake-ups per second, output held", heldPerSecond);
    return 0;
}
