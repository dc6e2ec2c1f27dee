#pragma once
// The package layer over an engine: assembles received bytes into packages (by head/tail
// markers on the engine's read thread, or by silence on its own timer thread), keeps them in a
// ring of package slots, and sends queued packages through the engine, framed or raw.
//
// No received byte is dropped while the ring has room: a burst longer than PackageSize becomes
// several packages, and the package being assembled when the line hangs up is closed before
// the hang-up is reported. (A caller's buffer shorter than the package still cuts it.)
//
// Threads: setters and WritePackage on the owner's thread; ReadPackage on the single consumer
// of received packages (the package handler's thread is fine). OnPackage runs on the thread
// that detected the event: the timer thread (`evb-pkg`) for time-out packages (the owner's
// thread for the one ExpectPackage closes), the engine's read thread for other events and the
// packages closed by a hang-up, the owner's thread for the open/close report. OnPackage may
// only be replaced while the layer is inactive. The destructor must not run on the timer
// thread.

#include "serial/CommTypes.h"
#include "serial/TCommPackageQueue.h"
#include "serial/TFrameCodec.h"
#include "serial/TTimeoutAssembler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace TalonComm {

class TTalonComm;

class TCommPackage : public TObject {
  public:
    explicit TCommPackage(TTalonComm* engine);
    ~TCommPackage() override;
    TCommPackage(const TCommPackage&) = delete;
    TCommPackage& operator=(const TCommPackage&) = delete;

    virtual unsigned long ReadPackage(void* buf, unsigned long n);
    virtual unsigned long WritePackage(const void* buf, unsigned long n);
    virtual void PurgeRead();
    virtual void PurgeWrite();
    virtual void CallNotify(int mask);

    // Waits until Write calls totalling n bytes, each sent as its own package in time-out
    // mode, will all go straight to the engine: no package waits and the engine has room.
    bool WaitWriteRoom(long n, std::chrono::milliseconds timeout);

    // Time-out mode: the next n bytes received are an answer, whose package is complete once
    // they are all in and the line was then quiet for quiet (instead of PackageInterval). What
    // was received before is first closed as a package of its own, so that it is never taken
    // for part of the answer. n = 0 returns to the interval alone.
    void ExpectPackage(std::uint32_t n, std::chrono::microseconds quiet);
    // Time-out mode: bytes have come that are not yet a complete package.
    bool Assembling();

    // Returns once no package handler runs on the timer thread; from then on the handler is
    // only called again for new packages (deactivate first to stop those).
    void Quiesce();

    // Installed as the engine's OnCommNotify.
    void fNewCommNotify(TObject* Sender, int mask);

    bool fGetActive() const { return m_active.load(std::memory_order_acquire); }
    void fSetActive(bool b);
    std::uint32_t fGetQueueSize() const { return m_queueSize; }
    void fSetQueueSize(std::uint32_t n);
    std::uint32_t fGetPackageSize() const { return m_packageSize; }
    void fSetPackageSize(std::uint32_t n);
    TCommPackageType fGetPackageType() const { return m_packageType.load(std::memory_order_acquire); }
    void fSetPackageType(TCommPackageType t);
    std::uint32_t fGetPackageInterval() const { return m_packageInterval.load(std::memory_order_relaxed); }
    void fSetPackageInterval(std::uint32_t ms);
    bool fGetDoubleFrameMark() const { return m_doubleFrameMark.load(std::memory_order_relaxed); }
    void fSetDoubleFrameMark(bool b) { m_doubleFrameMark.store(b, std::memory_order_relaxed); }
    std::uint8_t fGetFrameHead() const { return m_frameHead.load(std::memory_order_relaxed); }
    void fSetFrameHead(std::uint8_t v) { m_frameHead.store(v, std::memory_order_relaxed); }
    std::uint8_t fGetFrameTail() const { return m_frameTail.load(std::memory_order_relaxed); }
    void fSetFrameTail(std::uint8_t v) { m_frameTail.store(v, std::memory_order_relaxed); }
    std::uint8_t fGetFrameCtrl() const { return m_frameCtrl.load(std::memory_order_relaxed); }
    void fSetFrameCtrl(std::uint8_t v) { m_frameCtrl.store(v, std::memory_order_relaxed); }

    TCommPackageQueue* ReceiveQueue() const { return m_rxQueue.get(); }
    TCommPackageQueue* TransmitQueue() const { return m_txQueue.get(); }
    // A package is out of the transmit ring but not yet wholly with the engine.
    bool SendPending() const { return m_sendPending.load(std::memory_order_acquire); }
    TTalonComm* Engine() const { return m_engine; }

    // The package notification.
    TCommNotifyEvent OnPackage;

  private:
    void _TimerThread();
    // Moves the engine's bytes into the assembler; with m_mutex held. True when there were any.
    bool drainIntoAssembler(std::uint8_t* buf, TTimeoutAssembler::Clock::time_point now);
    // Hands a completed package to the ring and the handler; with m_mutex held (in lock), which
    // is let go while the handler runs.
    void deliver(const std::vector<std::uint8_t>& package, std::unique_lock<std::mutex>& lock);
    void flushAtHangup();
    void _ReadHeadTailPackage();
    void _WritePackage();
    bool sendOnce();
    void resetLocked();
    void signalTimer();
    TFrameMarks marks() const;

    TTalonComm* m_engine;
    TCommNotifyEvent m_savedNotify;

    std::atomic<bool> m_active{false};
    std::atomic<bool> m_doubleFrameMark{false};
    std::atomic<std::uint8_t> m_frameHead{0xEB};
    std::atomic<std::uint8_t> m_frameTail{0xEE};
    std::atomic<std::uint8_t> m_frameCtrl{0xEC};
    std::atomic<TCommPackageType> m_packageType{cptFrameTimeout};
    std::atomic<std::uint32_t> m_packageInterval{50};
    std::uint32_t m_queueSize = 16;
    std::uint32_t m_packageSize = 4096;

    std::unique_ptr<TCommPackageQueue> m_rxQueue;
    std::unique_ptr<TCommPackageQueue> m_txQueue;

    // Receive side. m_mutex guards the decoder, the assembler and the timer's wake-up flag
    // against each other and against the setters; OnPackage is never called with it held.
    std::mutex m_mutex;
    std::condition_variable m_timerCv;
    bool m_timerSignalled = false;
    bool m_running = true;
    TFrameCodec m_decoder;
    TTimeoutAssembler m_assembler;

    // Send side. m_sendMutex is taken with try_lock by the send step (a busy step makes the
    // holder run once more through m_sendAgain) and fully by the setters.
    std::mutex m_sendMutex;
    std::atomic<bool> m_sendAgain{false};
    std::vector<std::uint8_t> m_sendBuffer;
    std::size_t m_sentCount = 0;
    // True while a package is out of the transmit ring but not wholly handed to the engine.
    // Written under m_sendMutex, read without it by WaitWriteRoom.
    std::atomic<bool> m_sendPending{false};
    std::vector<char> m_staging;

    // Held by the timer thread while it runs the package handler.
    std::mutex m_callbackMutex;
    std::thread m_timerThread;
};

} // namespace TalonComm
