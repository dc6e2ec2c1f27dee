#pragma once
// Line calls for tests: the system's, except where a test stands in for what a
// pseudo-terminal cannot show (modem lines, line errors, output held by flow control) or
// makes a call fail. Waits that the engine interrupts with its signal are polls here, which a
// signal ends with EINTR just as it ends TIOCMIWAIT and tcdrain.

#include "serial/TLineIo.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace evbtest {

class FakeLineIo : public TalonComm::TLineIo {
  public:
    FakeLineIo() : m_modemWake(::eventfd(0, EFD_CLOEXEC)), m_drainWake(::eventfd(0, EFD_CLOEXEC)) {}
    ~FakeLineIo() override {
        ::close(m_modemWake);
        ::close(m_drainWake);
    }

    // --- what the test sets ---
    std::atomic<bool> hasModem{false};
    std::atomic<int> readErrno{0};   // reads fail with this errno (0: the system's read)
    std::atomic<bool> readEnd{false}; // reads return 0, as from a device that hung up
    std::atomic<int> pollErrno{0};   // polls fail with this errno
    std::atomic<int> held{0};        // bytes the "driver" holds back (0: the system's count)
    // --- what the test watches ---
    std::atomic<int> drainWaits{0};
    std::atomic<int> polls{0};

    void SetModem(std::uint32_t status) {
        m_status.store(status);
        kick(m_modemWake);
    }
    void CountError(bool lineBreak) {
        std::lock_guard lock(m_mutex);
        if (lineBreak)
            ++m_counters.Break;
        else
            ++m_counters.Frame;
    }
    // The held output leaves the line.
    void Release() {
        held.store(0);
        kick(m_drainWake);
    }

    long Read(int fd, void* buf, std::size_t n) override {
        if (readEnd.load()) return 0;
        if (const int e = readErrno.load()) {
            errno = e;
            return -1;
        }
        return TLineIo::Read(fd, buf, n);
    }
    bool ModemStatus(int fd, std::uint32_t& status) override {
        if (!hasModem.load()) return TLineIo::ModemStatus(fd, status);
        status = m_status.load();
        return true;
    }
    int WaitModemChange(int fd) override {
        if (!hasModem.load()) return TLineIo::WaitModemChange(fd);
        return wait(m_modemWake);
    }
    bool Counters(int, TalonComm::TLineCounters& c) override {
        if (!hasModem.load()) return false;
        std::lock_guard lock(m_mutex);
        c = m_counters;
        return true;
    }
    int OutQueue(int fd) override {
        const int h = held.load();
        return h > 0 ? h : TLineIo::OutQueue(fd);
    }
    int WaitDrained(int fd) override {
        ++drainWaits;
        if (held.load() == 0) return TLineIo::WaitDrained(fd);
        return wait(m_drainWake);
    }
    int Poll(pollfd* fds, unsigned long n, int timeoutMs) override {
        ++polls;
        if (const int e = pollErrno.load()) {
            errno = e;
            return -1;
        }
        return TLineIo::Poll(fds, n, timeoutMs);
    }

  private:
    static void kick(int efd) {
        const std::uint64_t one = 1;
        (void)!::write(efd, &one, sizeof one);
    }
    // 0 once kicked, EINTR when a signal came first.
    static int wait(int efd) {
        pollfd p{efd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) return errno;
        std::uint64_t v;
        (void)!::read(efd, &v, sizeof v);
        return 0;
    }

    int m_modemWake;
    int m_drainWake;
    std::atomic<std::uint32_t> m_status{0};
    std::mutex m_mutex;
    TalonComm::TLineCounters m_counters;
};

} // namespace evbtest
