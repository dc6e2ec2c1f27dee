#include "serial/TLinePacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>

namespace TalonComm {

void TLinePacer::Reset(std::uint32_t baud) {
    m_baud = std::max<std::uint32_t>(baud, 50);
    m_wireFree = Clock::time_point{};
}

std::chrono::nanoseconds TLinePacer::byteTime() const {
    return std::chrono::nanoseconds(10'000'000'000LL / m_baud);
}

int TLinePacer::Backlog(Clock::time_point now) const {
    if (m_wireFree <= now) return 0;
    const auto left = m_wireFree - now;
    const auto bt = byteTime();
    return static_cast<int>((left + bt - Clock::duration(1)) / bt);
}

long TLinePacer::Room(Clock::time_point now) const {
    return std::max<long>(0, kFifoBytes - Backlog(now));
}

void TLinePacer::Wrote(long n, Clock::time_point now) {
    m_wireFree = std::max(m_wireFree, now) + byteTime() * n;
}

TLinePacer::Clock::duration TLinePacer::UntilRoom(Clock::time_point now) const {
    // Room appears when the backlog falls to kFifoBytes - 1.
    const auto freeAt = m_wireFree - byteTime() * (kFifoBytes - 1);
    return freeAt > now ? freeAt - now : Clock::duration::zero();
}

TPacedLineIo::TPacedLineIo(std::uint32_t baud, TLineIo& inner) : m_inner(inner) {
    m_pacer.Reset(baud);
}

bool TPacedLineIo::ApplyLine(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken) {
    return m_inner.ApplyLine(fd, dcb, speedTaken);
}
bool TPacedLineIo::SetDtr(int fd, bool on) {
    return m_inner.SetDtr(fd, on);
}
bool TPacedLineIo::SetRts(int fd, bool on) {
    return m_inner.SetRts(fd, on);
}
bool TPacedLineIo::SetBreak(int fd, bool on) {
    return m_inner.SetBreak(fd, on);
}
bool TPacedLineIo::SetXon(int fd, bool on) {
    return m_inner.SetXon(fd, on);
}
bool TPacedLineIo::Flush(int fd, bool input) {
    return m_inner.Flush(fd, input);
}

long TPacedLineIo::Read(int fd, void* buf, std::size_t n) {
    return m_inner.Read(fd, buf, n);
}

long TPacedLineIo::Write(int fd, const void* buf, std::size_t n) {
    m_fd.store(fd, std::memory_order_relaxed);
    const long room = m_pacer.Room(TLinePacer::Clock::now());
    if (room <= 0 && n > 0) {
        errno = EAGAIN;
        return -1;
    }
    const long written = m_inner.Write(fd, buf, std::min<std::size_t>(n, static_cast<std::size_t>(room)));
    if (written > 0) m_pacer.Wrote(written, TLinePacer::Clock::now());
    return written;
}

bool TPacedLineIo::ModemStatus(int fd, std::uint32_t& status) {
    return m_inner.ModemStatus(fd, status);
}
int TPacedLineIo::WaitModemChange(int fd) {
    return m_inner.WaitModemChange(fd);
}
bool TPacedLineIo::Counters(int fd, TLineCounters& counters) {
    return m_inner.Counters(fd, counters);
}
int TPacedLineIo::OutQueue(int) {
    return 0;
}
int TPacedLineIo::WaitDrained(int) {
    return 0;
}

int TPacedLineIo::Poll(pollfd* fds, unsigned long n, int timeoutMs) {
    const int fd = m_fd.load(std::memory_order_relaxed);
    pollfd* out = nullptr;
    for (unsigned long i = 0; i < n; ++i)
        if (fd >= 0 && fds[i].fd == fd && (fds[i].events & POLLOUT)) out = &fds[i];
    const auto now = TLinePacer::Clock::now();
    if (!out || m_pacer.Room(now) > 0) return m_inner.Poll(fds, n, timeoutMs);
    // The FIFO is full: the other descriptors are waited for until it has room.
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(m_pacer.UntilRoom(now));
    if (timeoutMs >= 0) wait = std::min<std::chrono::nanoseconds>(wait, std::chrono::milliseconds(timeoutMs));
    const timespec ts{static_cast<time_t>(wait.count() / 1'000'000'000), static_cast<long>(wait.count() % 1'000'000'000)};
    out->fd = -1;
    int polled = ::ppoll(fds, n, &ts, nullptr);
    out->fd = fd;
    out->revents = 0;
    if (polled >= 0 && m_pacer.Room(TLinePacer::Clock::now()) > 0) {
        out->revents = POLLOUT;
        ++polled;
    }
    return polled;
}

} // namespace TalonComm
