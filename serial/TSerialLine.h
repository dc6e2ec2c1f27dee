#pragma once
// The device calls of the engine: termios2 line settings, modem lines, queues of the driver.
// Kept in one source file that includes the kernel's termios definitions, which clash with
// <termios.h>. Every function works on an open descriptor and reports failure by its result.

#include "serial/TCommDcb.h"

#include <cstdint>

namespace TalonComm {

class TSerialLine {
  public:
    // Raw mode with the parameters of dcb; any baud through BOTHER. Returns false when the
    // driver refuses the settings (confirmed by reading them back), with errno set where a call
    // failed (ENOTTY: not a terminal at all). speedTaken: the output speed the driver reports
    // after the change (it may have fallen back to another rate). With parity on, bytes with a
    // parity or framing error arrive marked (PARMRK): 0xFF 0x00 and the byte; a real 0xFF as
    // 0xFF 0xFF.
    static bool ApplyDcb(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken);
    // The whole termios of a port, kept while the engine uses its own settings and given back
    // on close (a console left raw at another baud is unusable).
    struct TSavedLine {
        alignas(8) unsigned char Data[64];
        bool Valid = false;
    };
    static bool SaveLine(int fd, TSavedLine& saved);
    static bool RestoreLine(int fd, const TSavedLine& saved);
    // Asks the driver for low-latency delivery where it supports it; failure is harmless.
    static void RequestLowLatency(int fd);
    // Modem status word: CTS 0x10, DSR 0x20, ring 0x40, line signal 0x80. False when the
    // device has no modem lines (pseudo-terminals).
    static bool ModemStatus(int fd, std::uint32_t& status);
    // Sets (on true) or clears DTR / RTS. False when the device refuses.
    static bool SetDtr(int fd, bool on);
    static bool SetRts(int fd, bool on);
    static bool SetBreak(int fd, bool on);
    // Suspends (false) or resumes (true) output as if XOFF/XON had been received.
    static bool SetXon(int fd, bool on);
    static bool FlushInput(int fd);
    static bool FlushOutput(int fd);
    // Bytes still in the driver's output queue, -1 when unknown.
    static int OutQueue(int fd);
};

} // namespace TalonComm
