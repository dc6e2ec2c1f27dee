#pragma once
// A stand-in for the line's own pace, for tests and benchmarks on pseudo-terminals: a
// pseudo-terminal takes any amount of output at once and reports its output queue empty, so
// a sender that waits for the line never waits. With pacing switched on, the engine's write
// thread hands the device only what a UART with a 16-byte transmit FIFO would take at the
// port's baud rate (10 bits a byte), keeping the rest itself as a UART's driver keeps it in
// its output queue. As with a UART, the output counts as drained once the last bytes are in
// the FIFO.
//
// The switch is process-wide and read when a port opens. A pacer object belongs to one
// engine's write thread.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace TalonComm {

class TLinePacer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr long kFifoBytes = 16;

    static void SetEnabled(bool on);
    static bool Enabled();

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

} // namespace TalonComm
