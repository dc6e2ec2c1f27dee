#pragma once
// The port I/O engine: one serial device, a read thread that moves received bytes into the
// receive queue and reports port events, a write thread that drains the transmit queue into
// the device. Callers only touch the two queues.
//
// Threads: setters, Open, Close, Write, Command and the purges run on the owner's thread;
// Read on the single consumer of the receive queue. OnCommNotify runs on the read thread
// (and on the owner's thread for the open/close report 0x38). The three callbacks may only be
// replaced while the port is closed.

#include "serial/CommTypes.h"
#include "serial/TCommDcb.h"
#include "serial/TCommQueue.h"
#include "serial/TLineIo.h"
#include "serial/TLinePacer.h"
#include "serial/TNetLine.h"
#include "serial/TSerialLine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace TalonComm {

class TTalonComm : public TObject {
  public:
    TTalonComm();
    ~TTalonComm() override;
    TTalonComm(const TTalonComm&) = delete;
    TTalonComm& operator=(const TTalonComm&) = delete;

    virtual long Read(void* buf, long n);
    virtual long Write(const void* buf, long n);
    virtual long Command(const char* text);
    virtual void PurgeRead(bool abort);
    virtual void PurgeWrite(bool abort);
    virtual void ResetModem();
    virtual void InitModem();
    // Codes: 1 XOFF, 2 XON, 3 set RTS, 4 clear RTS, 5 set DTR, 6 clear DTR, 8 set break,
    // 9 clear break.
    virtual bool EscapeCommFunction(unsigned long code);
    virtual void Open();
    virtual void Close();
    virtual void CommNotify(int mask);
    virtual void CommAfterOpen();
    virtual void CommBeforeClose();

    // See TRkCustomCommDevice::WaitWriteRoom / WaitWriteDrained.
    bool WaitWriteRoom(long n, std::chrono::milliseconds timeout);
    bool WaitWriteDrained(std::chrono::milliseconds timeout);
    // Blocks until pred() holds, the port is not active, or the deadline passes; returns pred().
    // pred is evaluated whenever the write thread moves bytes, the port closes, or someone
    // calls NotifyWaiters. Any thread but the engine's own may wait.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::steady_clock::time_point deadline);
    void NotifyWaiters();

    // The device path a port name stands for: COMn is /dev/ttyS(n-1), a name beginning with
    // '/' is a path, any other name lives in /dev.
    static std::string DevicePath(const std::string& portName);

    // The line calls to use (nullptr: the system's). Only while the port is closed; io must
    // outlive every later opening.
    void SetLineIo(TLineIo* io) { m_io = io ? io : &TLineIo::System(); }
    TLineIo* LineIo() const { return m_io; }
    // A line that cannot say when its output has left (a pseudo-terminal, a network port) is
    // paced to its baud rate while it is open (TPacedLineIo around the line calls), so that the
    // transmitter's empty report follows the wire, not a buffer. Takes effect at the next open.
    void SetPaceBlindLines(bool on) { m_paceBlindLines = on; }
    // True while the open port is paced that way.
    bool fGetPaced() const { return m_paced != nullptr; }
    // What the line of a network port found worth a line in the link log since the last call
    // (a server that does not acknowledge requests); empty for local devices. Owner's thread.
    std::string TakeLineNote() { return m_net ? m_net->TakeNote() : std::string(); }
    // True while a modem-line watcher runs (the driver can wait for modem changes).
    bool fGetWatchingModem() const { return m_modemThread.joinable(); }

    bool fGetActive() const { return m_active.load(std::memory_order_acquire); }
    void fSetActive(bool b);
    int fGetPort() const { return m_port; }
    void fSetPort(int n);
    const std::string& fGetPortName() const { return m_portName; }
    void fSetPortName(const std::string& name);
    int fGetHandle() const { return m_fd; }
    void fSetHandle(int fd);
    std::uint32_t fGetBaudRate() const { return m_dcb.BaudRate; }
    void fSetBaudRate(std::uint32_t baud);
    std::uint8_t fGetParity() const { return m_dcb.Parity; }
    void fSetParity(std::uint8_t parity);
    std::uint8_t fGetByteSize() const { return m_dcb.ByteSize; }
    void fSetByteSize(std::uint8_t bits);
    std::uint8_t fGetStopBits() const { return m_dcb.StopBits; }
    void fSetStopBits(std::uint8_t code);
    int fGetFlowControl() const;
    void fSetFlowControl(int code);
    bool fGetDataOnly() const { return m_dataOnly; }
    void fSetDataOnly(bool b);
    long fGetHwInSize() const { return m_hwInSize; }
    void fSetHwInSize(long n);
    long fGetHwOutSize() const { return m_hwOutSize; }
    void fSetHwOutSize(long n);
    long fGetInBufSize() const { return m_inQueue->BufSize(); }
    // The rings are in use by the threads while open: an open port is closed around the
    // resize and opened again.
    void fSetInBufSize(long n);
    long fGetOutBufSize() const { return m_outQueue->BufSize(); }
    void fSetOutBufSize(long n);
    std::uint8_t fGetAutoAnswer() const { return m_autoAnswer; }
    void fSetAutoAnswer(std::uint8_t n) { m_autoAnswer = n; }
    bool fGetDisableWrite() const { return m_disableWrite.load(std::memory_order_relaxed); }
    void fSetDisableWrite(bool b) { m_disableWrite.store(b, std::memory_order_relaxed); }
    bool fGetDTR() const { return fGetActive() && m_dtr; }
    void fSetDTR(bool b);
    bool fGetRTS() const { return fGetActive() && m_rts; }
    void fSetRTS(bool b);
    // When the read thread last took bytes from the driver (steady clock), stored before they
    // enter the receive queue: whoever reads them there sees this time or a later one.
    std::chrono::steady_clock::time_point fGetLastReceived() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(m_lastReceived.load(std::memory_order_acquire)));
    }
    // Bytes received with a parity or framing error since the port opened (with parity on):
    // dropped, each reported with evErr.
    std::uint64_t fGetBadBytes() const { return m_badBytes.load(std::memory_order_relaxed); }
    std::uint32_t fGetModemStatus() const { return m_modemStatus.load(std::memory_order_relaxed); }
    bool fGetCTS() const { return fGetModemStatus() & 0x10; }
    bool fGetDSR() const { return fGetModemStatus() & 0x20; }
    bool fGetRING() const { return fGetModemStatus() & 0x40; }
    bool fGetRLSD() const { return fGetModemStatus() & 0x80; }
    const TCommDcb& fGetDcb() const { return m_dcb; }
    TCommQueue* fGetInQueue() const { return m_inQueue.get(); }
    TCommQueue* fGetOutQueue() const { return m_outQueue.get(); }

    TCommNotifyEvent OnCommNotify;
    TCommSimpleEvent AfterOpen;
    TCommSimpleEvent BeforeClose;

  private:
    void _ReadThread(std::uint64_t epoch);
    void _WriteThread();
    void _ModemThread();
    static long unmarkParity(char* buf, long n, int& state, int& bad);
    // Events found by the read thread's look at the driver's counters and the modem word.
    int lineEvents();
    void stopThreads();
    void releaseExternalHandle();
    void closeDescriptors();
    void reportHangup();
    // With the threads stopped: discards the output of a device that hung up.
    void dropOutputOfVanishedDevice();
    void signal(int efd);
    void wakeWaiters();
    std::string openDevice(int& code);

    int m_fd = -1;
    TCommDcb m_dcb;
    bool m_externalHandle = false;
    // File status flags of an external descriptor before the engine made it non-blocking.
    int m_externalFlags = -1;
    TLineIo* m_io = &TLineIo::System();
    // The line of a port named tcp:// or rfc2217:// while it is open; m_io points to it then,
    // and m_ioBeforeNet holds the line calls to go back to.
    std::unique_ptr<TNetLine> m_net;
    TLineIo* m_ioBeforeNet = nullptr;
    // The pace of a line that cannot report its output queue, while open (around m_net too).
    bool m_paceBlindLines = false;
    std::unique_ptr<TPacedLineIo> m_paced;
    TLineIo* m_ioBeforePace = nullptr;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_disableWrite{false};
    bool m_dtr = true;
    bool m_rts = true;
    bool m_dataOnly = false;
    int m_port = 2;
    std::string m_portName = "COM2";
    long m_hwInSize = 1200;
    long m_hwOutSize = 1200;
    std::uint8_t m_autoAnswer = 0;
    std::unique_ptr<TCommQueue> m_inQueue;
    std::unique_ptr<TCommQueue> m_outQueue;

    std::thread m_readThread;
    // A read thread that closed the port from its own handler: it ends as soon as the handler
    // returns, and is joined by the next close from another thread or by the destructor.
    std::thread m_retiredReadThread;
    std::thread m_writeThread;
    // Waits in TIOCMIWAIT, which no descriptor can interrupt: it is stopped by a signal (see
    // TTalonComm.cpp, interruptThread). Runs only where the driver has modem lines.
    std::thread m_modemThread;
    std::atomic<bool> m_modemRun{false};
    std::atomic<bool> m_modemDone{false};
    // The write thread waits in the driver for held output to drain; stopped like the above.
    std::atomic<bool> m_writeDone{false};
    // Modem events (evCts, evDsr, evRlsd, evRing) found by the watcher, reported by the reader.
    std::atomic<int> m_modemEvents{0};
    // Read thread only: the driver's counters at the last look; false where it keeps none.
    TLineCounters m_counters;
    bool m_haveCounters = false;
    // The counters as Open took them, before its modem status read; the watcher starts there.
    TLineCounters m_openCounters;
    // The line settings the device had before Open set its own; put back on close.
    TSerialLine::TSavedLine m_savedLine;
    // Parity on: bytes arrive marked (PARMRK) and are unmarked by the read thread.
    bool m_markedParity = false;
    std::atomic<std::uint64_t> m_badBytes{0};
    std::atomic<std::chrono::steady_clock::rep> m_lastReceived{0};
    // Bumped by PurgeRead after its flush: the read thread drops what it read before. Holding:
    // the read thread has bytes out of the driver that are not in the queue yet.
    std::atomic<std::uint64_t> m_readPurgeGen{0};
    std::atomic<bool> m_readHolding{false};
    // Bumped by PurgeWrite(abort); the write thread drops the chunk it holds and acknowledges.
    std::atomic<std::uint64_t> m_purgeGen{0};
    std::atomic<std::uint64_t> m_purgeAck{0};
    // The write thread could not go on (its poll failed): the read thread ends the port.
    std::atomic<bool> m_writeFailed{false};
    // The read thread found the descriptor closed by its owner.
    std::atomic<bool> m_externalGone{false};
    std::atomic<bool> m_readRun{false};
    // Bumped by every start of a read thread; a thread whose number is not the latest ends.
    std::atomic<std::uint64_t> m_readEpoch{0};
    // The epoch whose read thread may begin: Open raises it once every thread object is in
    // place, so a handler that closes the port from the read thread never meets a half-made Open.
    std::atomic<std::uint64_t> m_readStart{0};
    // The read thread serving the port (none once it has ended), and the thread reporting a
    // hang-up, the one report whose handler may open the port again.
    std::atomic<std::thread::id> m_readThreadId{};
    std::atomic<std::thread::id> m_hangupReporter{};
    bool onReadThread() const {
        return m_readThreadId.load(std::memory_order_acquire) == std::this_thread::get_id();
    }
    std::atomic<bool> m_writeRun{false};
    // eventfds: stop ends both threads (never consumed); writeWake wakes the write thread;
    // readWake wakes the read thread for room in the receive queue or a drained transmitter.
    int m_stopFd = -1;
    int m_writeWakeFd = -1;
    int m_readWakeFd = -1;
    // Set by the read thread when the receive queue was full; Read then wakes it.
    std::atomic<bool> m_rxWaitingRoom{false};
    // Set by the write thread when it found everything sent; the read thread reports evTxEmpty.
    std::atomic<bool> m_txEmptyPending{false};
    std::atomic<std::uint32_t> m_modemStatus{0};

    // Write generation: bumped by every accepted Write/Command; the write thread publishes
    // the generation it saw fully drained. Waiters block on m_waitCv.
    std::atomic<std::uint64_t> m_writeGen{0};
    std::atomic<std::uint64_t> m_drainedGen{0};
    // The write thread is about to sleep, or sleeps, until told that the queue has data.
    std::atomic<bool> m_writerWaiting{false};
    // The device went away under the threads (set by the read thread, taken by Close/Open).
    std::atomic<bool> m_hungUp{false};
    std::atomic<int> m_waiters{0};
    std::mutex m_waitMutex;
    std::condition_variable m_waitCv;
};

} // namespace TalonComm
