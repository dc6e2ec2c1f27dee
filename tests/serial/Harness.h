#pragma once
// What the serial tests stand on: a pseudo-terminal whose master the test holds (the code under
// test opens the slave by path), a condition wait with a deadline, and line calls that stand in
// for what a pseudo-terminal cannot show (modem lines, line errors, output held by flow control)
// or make a call fail. The fake's waits are polls, which the engine's signal ends with EINTR
// just as it ends TIOCMIWAIT and tcdrain.

#include "serial/TLineIo.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace evbtest {

using namespace std::chrono_literals;

template <class Pred> bool WaitFor(Pred pred, std::chrono::milliseconds timeout = 5s) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !pred(); std::this_thread::yield())
        if (std::chrono::steady_clock::now() >= deadline) return pred();
    return true;
}

// The master side is raw before anyone opens the slave (the two ends share one termios).
class Pty {
  public:
    Pty() : m_fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        char name[128];
        if (m_fd < 0 || ::grantpt(m_fd) || ::unlockpt(m_fd) || ::ptsname_r(m_fd, name, sizeof name))
            throw std::runtime_error("no pseudo-terminal");
        m_slave = name;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~Pty() { Close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Slave() const { return m_slave; }
    int Master() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    void Send(const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (errno != EINTR && errno != EAGAIN)
                throw std::runtime_error("master write failed");
        }
    }
    // What came within the deadline, at most n bytes (less once the slave side is closed).
    std::string Take(std::size_t n, std::chrono::milliseconds timeout = 5s) {
        std::string got;
        const auto done = [&] {
            char buf[4096];
            pollfd p{m_fd, POLLIN, 0};
            const ssize_t k =
                ::poll(&p, 1, 1) > 0 ? ::read(m_fd, buf, std::min(sizeof buf, n - got.size())) : 0;
            if (k > 0) got.append(buf, static_cast<std::size_t>(k));
            return got.size() >= n || (k < 0 && errno != EINTR && errno != EAGAIN);
        };
        WaitFor(done, timeout);
        return got;
    }

  private:
    int m_fd;
    std::string m_slave;
};

class FakeLineIo : public TalonComm::TLineIo {
  public:
    ~FakeLineIo() override {
        ::close(m_modemWake);
        ::close(m_drainWake);
    }
    // --- what the test sets ---
    std::atomic<bool> hasModem{false};
    std::atomic<int> readErrno{0};    // reads fail with this errno (0: the system's read)
    std::atomic<bool> readEnd{false}; // reads return 0, as from a device that hung up
    std::atomic<int> pollErrno{0};    // polls fail with this errno
    std::atomic<int> held{0};         // bytes the "driver" holds back (0: the system's count)
    // line errors, breaks and CTS changes the "driver" counted
    std::atomic<std::uint32_t> frames{0}, breaks{0}, ctsChanges{0};
    std::atomic<std::uint32_t> speedTaken{0}; // the rate the "driver" falls back to (0: as asked)
    std::atomic<bool> markNext{false};        // the next byte read arrives marked as spoiled (PARMRK)
    // Run once on the read thread right after its next read (installed before that read).
    std::function<void()> afterRead;
    std::atomic<bool> afterReadArmed{false};
    std::atomic<int> afterReadRuns{0};
    // The remote raises CTS right after the status read of the next opening, before any wait.
    std::atomic<bool> ctsAfterStatusRead{false};
    // --- what the test watches ---
    std::atomic<int> drainWaits{0}, polls{0};

    void SetModem(std::uint32_t status) {
        m_status = status;
        kick(m_modemWake);
    }
    void Release() { // the held output leaves the line
        held = 0;
        kick(m_drainWake);
    }

    bool ApplyLine(int fd, const TalonComm::TCommDcb& dcb, std::uint32_t& taken) override {
        const bool ok = TLineIo::ApplyLine(fd, dcb, taken);
        if (speedTaken) taken = speedTaken;
        return ok;
    }
    long Read(int fd, void* buf, std::size_t n) override {
        if (readEnd) return 0;
        if (const int e = readErrno) return errno = e, -1;
        auto* p = static_cast<unsigned char*>(buf);
        if (markNext.exchange(false)) // one byte, as the driver hands over a spoiled one
            return TLineIo::Read(fd, p + 2, 1) == 1 ? (p[0] = 0xFF, p[1] = 0x00, 3) : -1;
        const long k = TLineIo::Read(fd, buf, n);
        if (k > 0 && afterReadArmed.exchange(false)) afterRead(), ++afterReadRuns;
        return k;
    }
    bool ModemStatus(int fd, std::uint32_t& status) override {
        if (!hasModem) return TLineIo::ModemStatus(fd, status);
        status = m_status;
        if (ctsAfterStatusRead.exchange(false)) m_status = m_status | 0x10, ++ctsChanges;
        return true;
    }
    int WaitModemChange(int fd) override {
        return hasModem ? wait(m_modemWake) : TLineIo::WaitModemChange(fd);
    }
    bool Counters(int, TalonComm::TLineCounters& c) override {
        if (!hasModem) return false;
        c = {.Cts = ctsChanges, .Frame = frames, .Break = breaks};
        return true;
    }
    int OutQueue(int fd) override { return held > 0 ? held.load() : TLineIo::OutQueue(fd); }
    int WaitDrained(int fd) override {
        ++drainWaits;
        return held == 0 ? TLineIo::WaitDrained(fd) : wait(m_drainWake);
    }
    int Poll(pollfd* fds, unsigned long n, int timeoutMs) override {
        ++polls;
        if (const int e = pollErrno) return errno = e, -1;
        return TLineIo::Poll(fds, n, timeoutMs);
    }

  private:
    static void kick(int efd) {
        const std::uint64_t one = 1;
        (void)!::write(efd, &one, sizeof one);
    }
    static int wait(int efd) { // 0 once kicked, EINTR when a signal came first
        pollfd p{efd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) return errno;
        std::uint64_t v;
        (void)!::read(efd, &v, sizeof v);
        return 0;
    }
    int m_modemWake = ::eventfd(0, EFD_CLOEXEC), m_drainWake = ::eventfd(0, EFD_CLOEXEC);
    std::atomic<std::uint32_t> m_status{0};
};

} // namespace evbtest
