#pragma once
// The line's own pace where the device cannot tell it: a pseudo-terminal takes any amount of
// output at once and reports its output queue empty, and a network port's socket buffers many
// seconds of a 19200-baud line, so a sender that waits for the line never waits. A paced line
// hands the device only what a UART with a 16-byte transmit FIFO would take at the line's baud
// rate (10 bits a byte); the engine's write thread keeps the rest, as a UART's driver keeps it
// in its output queue. As with a UART, the output counts as drained once the last bytes are in
// the FIFO.
//
// TPacedLineIo is a TLineIo that wraps another (the system calls by default). The engine puts
// one around a pseudo-terminal's or a network port's line calls by itself when asked to
// (TTalonComm::SetPaceBlindLines). One TPacedLineIo paces one port: its Write and its waits
// for output room are called by that port's write thread alone.

#include "serial/TLineIo.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace TalonComm {

// The arithmetic of the FIFO: how much it takes now and when it takes more.
class TLinePacer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr long kFifoBytes = 16;

    void Reset(std::uint32_t baud);
    // Bytes the device may be given now.
    long Room(Clock::time_point now) const;
    void Wrote(long n, Clock::time_point now);
    // Bytes written and not yet sent, rounded up.
    int Backlog(Clock::time_point now) const;
    // Time until Room() > 0.
    Clock::duration UntilRoom(Clock::time_point now) const;

  private:
    std::chrono::nanoseconds byteTime() const;

    std::uint32_t m_baud = 19200;
    Clock::time_point m_wireFree{}; // when the last byte written will have left
};

class TPacedLineIo : public TLineIo {
  public:
    explicit TPacedLineIo(std::uint32_t baud, TLineIo& inner = TLineIo::System());

    bool ApplyLine(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken) override;
    long Read(int fd, void* buf, std::size_t n) override;
    // At most what the FIFO takes now; -1 with EAGAIN when it is full.
    long Write(int fd, const void* buf, std::size_t n) override;
    bool ModemStatus(int fd, std::uint32_t& status) override;
    int WaitModemChange(int fd) override;
    bool Counters(int fd, TLineCounters& counters) override;
    // What the FIFO holds is not counted, as a UART's driver does not count it.
    int OutQueue(int fd) override;
    int WaitDrained(int fd) override;
    // A wait for output room on the paced port ends when the FIFO has room, to the nanosecond.
    int Poll(pollfd* fds, unsigned long n, int timeoutMs) override;
    bool SetDtr(int fd, bool on) override;
    bool SetRts(int fd, bool on) override;
    bool SetBreak(int fd, bool on) override;
    bool SetXon(int fd, bool on) override;
    bool Flush(int fd, bool input) override;

  private:
    TLineIo& m_inner;
    TLinePacer m_pacer;
    std::atomic<int> m_fd{-1}; // the port this line paces (the last one written to)
};

} // namespace TalonComm
