#include "serial/TCommPackage.h"

#include "serial/TTalonComm.h"

#include <algorithm>
#include <cstring>
#include <pthread.h>

namespace TalonComm {

namespace {
constexpr long kDrainBlock = 2048;
}

TCommPackage::TCommPackage(TTalonComm* engine)
    : m_engine(engine), m_rxQueue(std::make_unique<TCommPackageQueue>(16, 4096 + 4)),
      m_txQueue(std::make_unique<TCommPackageQueue>(16, 4096 + 4)), m_decoder(4096),
      m_assembler(4096, std::chrono::milliseconds(50)) {
    m_staging.resize(m_packageSize + 4);
    m_timerThread = std::thread(&TCommPackage::_TimerThread, this);
    m_savedNotify = m_engine->OnCommNotify;
    m_engine->OnCommNotify = [this](TObject* sender, int mask) { fNewCommNotify(sender, mask); };
}

TCommPackage::~TCommPackage() {
    m_engine->OnCommNotify = m_savedNotify;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    m_timerCv.notify_all();
    if (m_timerThread.joinable()) m_timerThread.join();
}

TFrameMarks TCommPackage::marks() const {
    return TFrameMarks{fGetFrameHead(), fGetFrameTail(), fGetFrameCtrl(), fGetDoubleFrameMark()};
}

void TCommPackage::signalTimer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_timerSignalled = true;
    }
    m_timerCv.notify_one();
}

// ---- settings ----

void TCommPackage::resetLocked() {
    m_decoder.Reset();
    m_assembler.Reset();
    m_rxQueue->Clear();
    m_txQueue->Clear();
    m_sendBuffer.clear();
    m_sentCount = 0;
    m_sendPending.store(false, std::memory_order_release);
}

void TCommPackage::fSetActive(bool b) {
    {
        std::scoped_lock lock(m_mutex, m_sendMutex);
        m_active.store(b, std::memory_order_release);
        resetLocked();
        m_timerSignalled = true;
    }
    m_timerCv.notify_one();
    m_engine->NotifyWaiters();
}

void TCommPackage::fSetQueueSize(std::uint32_t n) {
    const bool wasActive = fGetActive();
    if (wasActive) fSetActive(false);
    {
        std::scoped_lock lock(m_mutex, m_sendMutex);
        m_queueSize = n;
        m_rxQueue->SetQSize(n);
        m_txQueue->SetQSize(n);
    }
    if (wasActive) fSetActive(true);
}

void TCommPackage::fSetPackageSize(std::uint32_t n) {
    const bool wasActive = fGetActive();
    if (wasActive) fSetActive(false);
    {
        std::scoped_lock lock(m_mutex, m_sendMutex);
        m_packageSize = n;
        m_rxQueue->SetPkgSz(n + 4);
        m_txQueue->SetPkgSz(n + 4);
        m_decoder.SetMaxLength(n);
        m_assembler.SetMaxLength(n);
        m_staging.assign(m_txQueue->PkgSz(), 0);
        m_sendBuffer.reserve(2 * static_cast<size_t>(n) + 8);
    }
    if (wasActive) fSetActive(true);
}

void TCommPackage::fSetPackageType(TCommPackageType t) {
    const bool wasActive = fGetActive();
    if (wasActive) fSetActive(false);
    m_packageType.store(t, std::memory_order_release);
    if (wasActive) fSetActive(true);
}

void TCommPackage::fSetPackageInterval(std::uint32_t ms) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_packageInterval.store(ms, std::memory_order_relaxed);
        m_assembler.SetInterval(std::chrono::milliseconds(ms));
        m_timerSignalled = true;
    }
    m_timerCv.notify_one();
}

// ---- packages in and out ----

unsigned long TCommPackage::ReadPackage(void* buf, unsigned long n) {
    if (!fGetActive()) return 0;
    if (fGetPackageType() == cptCompatiblePkg) return buf && m_rxQueue->Out(buf) ? 1 : 0;
    if (n != 0 && buf) {
        const long k = m_rxQueue->OutPackage(buf, n);
        return k > 0 ? static_cast<unsigned long>(k) : 0;
    }
    const long len = m_rxQueue->PeekLength();
    return len > 0 ? static_cast<unsigned long>(len) : 0;
}

unsigned long TCommPackage::WritePackage(const void* buf, unsigned long n) {
    if (!fGetActive()) return 0;
    unsigned long result = 0;
    if (fGetPackageType() == cptCompatiblePkg) {
        if (!buf || !m_txQueue->In(buf)) return 0;
        result = 1;
    } else {
        if (n == 0 || !buf) return 0;
        const auto len = static_cast<std::uint32_t>(std::min<unsigned long>(n, m_packageSize));
        if (!m_txQueue->InPackage(buf, len)) return 0;
        result = len;
    }
    _WritePackage();
    return result;
}

void TCommPackage::PurgeRead() {
    if (!fGetActive()) return;
    // Under the timer thread's lock: bytes it already took from the engine belong to a package
    // in the making, which is discarded with the rest instead of joining the next answer.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_engine->PurgeRead(false);
    m_assembler.Reset();
    m_rxQueue->Discard();
}

void TCommPackage::PurgeWrite() {
    if (!fGetActive()) return;
    m_txQueue->Discard();
    m_engine->PurgeWrite(false);
}

void TCommPackage::CallNotify(int mask) {
    if (!OnPackage) return;
    try {
        OnPackage(this, mask);
    } catch (...) {
        // A failing handler must not end the thread that assembles the packages.
    }
}

void TCommPackage::Quiesce() {
    if (std::this_thread::get_id() == m_timerThread.get_id()) return;
    std::lock_guard<std::mutex> wait(m_callbackMutex);
}

bool TCommPackage::WaitWriteRoom(long n, std::chrono::milliseconds timeout) {
    if (!fGetActive()) return false;
    return m_engine->WaitUntil(
        [&] {
            // Never takes the send lock: a send step that finds it held leaves its work to the
            // holder, and a waiter holding it would swallow that work and stall the queue.
            if (m_txQueue->Count() != 0 || m_sendPending.load(std::memory_order_acquire)) return false;
            return m_engine->fGetOutQueue()->Remain() >= n;
        },
        std::chrono::steady_clock::now() + timeout);
}

// ---- send step ----

bool TCommPackage::sendOnce() {
    if (m_sentCount < m_sendBuffer.size()) {
        const long k = m_engine->Write(m_sendBuffer.data() + m_sentCount,
                                       static_cast<long>(m_sendBuffer.size() - m_sentCount));
        m_sentCount += static_cast<std::size_t>(std::max(0L, k));
        m_sendPending.store(m_sentCount < m_sendBuffer.size(), std::memory_order_release);
        return m_sentCount == m_sendBuffer.size();
    }
    if (m_txQueue->Count() == 0) return false;
    // Set before the package leaves the queue, so a waiter never sees it nowhere.
    m_sendPending.store(true, std::memory_order_release);
    if (fGetPackageType() == cptFrameTimeout) {
        m_sendBuffer.resize(m_packageSize);
        const long k = m_txQueue->OutPackage(m_sendBuffer.data(), m_packageSize);
        m_sendBuffer.resize(static_cast<std::size_t>(std::max(0L, k)));
    } else {
        if (!m_txQueue->Out(m_staging.data())) {
            m_sendPending.store(false, std::memory_order_release);
            return false;
        }
        std::uint32_t len = 0;
        std::memcpy(&len, m_staging.data(), 4);
        len = std::min(len, m_packageSize);
        TFrameCodec::Encode(reinterpret_cast<const std::uint8_t*>(m_staging.data() + 4), len, marks(),
                            m_sendBuffer);
    }
    m_sentCount = 0;
    if (!m_sendBuffer.empty()) {
        const long k = m_engine->Write(m_sendBuffer.data(), static_cast<long>(m_sendBuffer.size()));
        m_sentCount = static_cast<std::size_t>(std::max(0L, k));
    }
    m_sendPending.store(m_sentCount < m_sendBuffer.size(), std::memory_order_release);
    return m_sentCount == m_sendBuffer.size();
}

void TCommPackage::_WritePackage() {
    // A caller that finds the send lock taken leaves its request in m_sendAgain for the holder.
    // Both sides fence between their store and their look at the other's (flag, lock): without
    // that, the holder could read the flag before the request became visible, let go of the lock
    // and leave a queued package behind with nobody to send it.
    m_sendAgain.store(true, std::memory_order_seq_cst);
    for (;;) {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        std::unique_lock<std::mutex> lock(m_sendMutex, std::try_to_lock);
        if (!lock.owns_lock()) return; // the holder runs once more for us
        while (m_sendAgain.exchange(false, std::memory_order_acq_rel)) {
            // Packages move on as long as the engine takes them whole.
            while (fGetActive() && sendOnce()) {
            }
        }
        lock.unlock();
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (!m_sendAgain.load(std::memory_order_seq_cst)) break;
    }
    m_engine->NotifyWaiters();
}

// ---- receive side ----

void TCommPackage::_ReadHeadTailPackage() {
    std::uint8_t buf[kDrainBlock];
    const TFrameMarks mk = marks();
    std::lock_guard<std::mutex> lock(m_mutex);
    long k;
    while ((k = m_engine->Read(buf, kDrainBlock)) > 0) {
        m_decoder.Decode(
            buf, static_cast<std::size_t>(k), mk,
            [this](const std::uint8_t* data, std::uint32_t len) { m_rxQueue->InPackage(data, len); });
    }
}

// The line has ended: no silence will close the package being assembled, so it is closed now,
// with whatever the engine still holds, and its handler hears of it before the hang-up.
void TCommPackage::flushAtHangup() {
    std::uint8_t buf[kDrainBlock];
    std::vector<std::uint8_t> package;
    std::unique_lock<std::mutex> lock(m_mutex);
    drainIntoAssembler(buf, TTimeoutAssembler::Clock::now());
    while (fGetActive() && m_assembler.TakeNow(package))
        deliver(package, lock);
}

void TCommPackage::fNewCommNotify(TObject* Sender, int mask) {
    if (fGetActive()) {
        int m = mask & ~(evRxChar | evTxEmpty);
        const bool timeoutMode = fGetPackageType() == cptFrameTimeout;
        if ((mask & evHangup) && timeoutMode) flushAtHangup();
        if (mask & evRxChar) {
            if (timeoutMode) {
                signalTimer();
            } else {
                _ReadHeadTailPackage();
                if (m_rxQueue->Count() != 0) m |= evRxChar;
            }
        }
        if (mask & evTxEmpty) {
            _WritePackage();
            if (m_txQueue->Count() == 0) m |= evTxEmpty;
        }
        if (m != 0) CallNotify(m);
    }
    if (m_savedNotify) m_savedNotify(Sender, mask);
}

bool TCommPackage::drainIntoAssembler(std::uint8_t* buf, TTimeoutAssembler::Clock::time_point now) {
    bool arrived = false;
    long k;
    while ((k = m_engine->Read(buf, kDrainBlock)) > 0) {
        m_assembler.Feed(buf, static_cast<std::size_t>(k), now);
        arrived = true;
    }
    // The silence that ends a package counts from when the bytes came off the line, not from
    // when this thread got round to them.
    if (arrived) m_assembler.Touch(std::min(now, m_engine->fGetLastReceived()));
    return arrived;
}

void TCommPackage::deliver(const std::vector<std::uint8_t>& package, std::unique_lock<std::mutex>& lock) {
    // A full ring loses the package; the handler still hears of it.
    m_rxQueue->InPackage(package.data(), static_cast<std::uint32_t>(package.size()));
    lock.unlock();
    {
        // Checked again under the lock that Quiesce takes: a layer switched off in the
        // meantime raises nothing once Quiesce has returned.
        std::lock_guard<std::mutex> running(m_callbackMutex);
        if (fGetActive()) CallNotify(evRxChar);
    }
    lock.lock();
}

void TCommPackage::ExpectPackage(std::uint32_t n, std::chrono::microseconds quiet) {
    std::uint8_t buf[kDrainBlock];
    std::vector<std::uint8_t> before;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (fGetActive() && fGetPackageType() == cptFrameTimeout) {
            drainIntoAssembler(buf, TTimeoutAssembler::Clock::now());
            while (m_assembler.TakeNow(before))
                deliver(before, lock);
        }
        m_assembler.Expect(n, quiet);
        m_timerSignalled = true;
    }
    m_timerCv.notify_one();
}

bool TCommPackage::Assembling() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_assembler.Pending();
}

void TCommPackage::_TimerThread() {
    pthread_setname_np(pthread_self(), "evb-pkg");
    std::uint8_t buf[kDrainBlock];
    std::vector<std::uint8_t> package;
    // This thread's first allocation comes now, not when the first package is due: it sets up
    // the thread's heap, which would delay that package.
    package.reserve(kDrainBlock);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_running) {
        const bool assembling = fGetActive() && fGetPackageType() == cptFrameTimeout && m_assembler.Pending();
        // No package under way: sleep until bytes arrive, without a time-out.
        if (assembling)
            m_timerCv.wait_until(lock, m_assembler.Deadline(),
                                 [this] { return m_timerSignalled || !m_running; });
        else
            m_timerCv.wait(lock, [this] { return m_timerSignalled || !m_running; });
        m_timerSignalled = false;
        if (!m_running || !fGetActive() || fGetPackageType() != cptFrameTimeout) continue;
        const auto now = TTimeoutAssembler::Clock::now();
        const bool arrived = drainIntoAssembler(buf, now);
        // Packages that filled up go at once; the one being assembled once the line is quiet.
        while (m_assembler.TakeIfDue(arrived ? TTimeoutAssembler::Clock::time_point{} : now, package)) {
            deliver(package, lock);
            if (!m_running || !fGetActive() || fGetPackageType() != cptFrameTimeout) break;
        }
    }
}

} // namespace TalonComm
