#pragma once
// The line calls of the I/O engine: every read, write and modem-line query the engine makes on
// an open device goes through one TLineIo. The default (System()) makes the system calls;
// tests and diagnostics install their own (TTalonComm::SetLineIo) to stand in for what a
// pseudo-terminal cannot show (modem lines, line errors, output held by flow control, a
// slow line) or to watch the traffic. Implementations are called from the engine's threads
// concurrently (read thread, write thread, modem watcher) and must be thread-safe; they must
// outlive every port that uses them.
//
// Results follow the system calls: Read/Write return the byte count or -1 with errno set.

#include "serial/TCommDcb.h"

#include <cstddef>
#include <cstdint>

struct pollfd;

namespace TalonComm {

// Counters of the line events that the driver counts (TIOCGICOUNT).
struct TLineCounters {
    std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Rlsd = 0;
    std::uint32_t Frame = 0, Overrun = 0, Parity = 0, BufOverrun = 0, Break = 0;
};

class TLineIo {
  public:
    virtual ~TLineIo() = default;

    // Applies the line parameters (TSerialLine::ApplyDcb): false when the driver refuses them,
    // speedTaken the rate it reports afterwards.
    virtual bool ApplyLine(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken);
    virtual long Read(int fd, void* buf, std::size_t n);
    virtual long Write(int fd, const void* buf, std::size_t n);
    // Modem status word: CTS 0x10, DSR 0x20, ring 0x40, line signal 0x80. False when the
    // device has no modem lines (pseudo-terminals).
    virtual bool ModemStatus(int fd, std::uint32_t& status);
    // Blocks until CTS, DSR, ring or line signal changes (TIOCMIWAIT). Returns 0 on a change,
    // otherwise the errno: EINTR when a signal interrupted the wait, ENOTTY/EINVAL where the
    // driver cannot wait, EIO once the device is gone.
    virtual int WaitModemChange(int fd);
    // False where the driver keeps no counters.
    virtual bool Counters(int fd, TLineCounters& counters);
    // Bytes still in the driver's output queue, -1 when unknown.
    virtual int OutQueue(int fd);
    // Blocks until the driver's output queue is empty (tcdrain). 0 when drained, otherwise the
    // errno (EINTR when a signal interrupted the wait).
    virtual int WaitDrained(int fd);
    // The line controls: DTR, RTS, break, and output held as by XOFF (false) or let go (true).
    // False when the device refuses them.
    virtual bool SetDtr(int fd, bool on);
    virtual bool SetRts(int fd, bool on);
    virtual bool SetBreak(int fd, bool on);
    virtual bool SetXon(int fd, bool on);
    // Drops what the driver holds of the input (input true) or of the output.
    virtual bool Flush(int fd, bool input);
    // The engine's threads wait here for the device and their wake-up descriptors (poll(2)).
    virtual int Poll(pollfd* fds, unsigned long n, int timeoutMs);

    // The system calls; shared by every engine that has no other TLineIo installed.
    static TLineIo& System();
};

} // namespace TalonComm
