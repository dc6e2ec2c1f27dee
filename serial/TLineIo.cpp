#include "serial/TLineIo.h"

#include "serial/TSerialLine.h"

#include <cerrno>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace TalonComm {

bool TLineIo::ApplyLine(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken) {
    return TSerialLine::ApplyDcb(fd, dcb, speedTaken);
}

long TLineIo::Read(int fd, void* buf, std::size_t n) {
    return static_cast<long>(::read(fd, buf, n));
}

long TLineIo::Write(int fd, const void* buf, std::size_t n) {
    return static_cast<long>(::write(fd, buf, n));
}

bool TLineIo::ModemStatus(int fd, std::uint32_t& status) {
    return TSerialLine::ModemStatus(fd, status);
}

int TLineIo::WaitModemChange(int fd) {
    return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR) == 0 ? 0 : errno;
}

bool TLineIo::Counters(int fd, TLineCounters& c) {
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
    c.Cts = static_cast<std::uint32_t>(ic.cts);
    c.Dsr = static_cast<std::uint32_t>(ic.dsr);
    c.Ring = static_cast<std::uint32_t>(ic.rng);
    c.Rlsd = static_cast<std::uint32_t>(ic.dcd);
    c.Frame = static_cast<std::uint32_t>(ic.frame);
    c.Overrun = static_cast<std::uint32_t>(ic.overrun);
    c.Parity = static_cast<std::uint32_t>(ic.parity);
    c.BufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
    c.Break = static_cast<std::uint32_t>(ic.brk);
    return true;
}

int TLineIo::OutQueue(int fd) {
    return TSerialLine::OutQueue(fd);
}

int TLineIo::WaitDrained(int fd) {
    return ::ioctl(fd, TCSBRK, 1) == 0 ? 0 : errno;
}

bool TLineIo::SetDtr(int fd, bool on) {
    return TSerialLine::SetDtr(fd, on);
}
bool TLineIo::SetRts(int fd, bool on) {
    return TSerialLine::SetRts(fd, on);
}
bool TLineIo::SetBreak(int fd, bool on) {
    return TSerialLine::SetBreak(fd, on);
}
bool TLineIo::SetXon(int fd, bool on) {
    return TSerialLine::SetXon(fd, on);
}
bool TLineIo::Flush(int fd, bool input) {
    return input ? TSerialLine::FlushInput(fd) : TSerialLine::FlushOutput(fd);
}

int TLineIo::Poll(pollfd* fds, unsigned long n, int timeoutMs) {
    return ::poll(fds, static_cast<nfds_t>(n), timeoutMs);
}

TLineIo& TLineIo::System() {
    static TLineIo io;
    return io;
}

} // namespace TalonComm
