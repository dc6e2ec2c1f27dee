#include "serial/TTalonComm.h"

#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TSerialLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>

namespace TalonComm {

namespace {

constexpr long kReadBlock = 2048;
constexpr long kWriteChunk = 4096;
// Received character, receive flag, transmit empty, CTS, DSR, RLSD, break, error, ring and
// receive-buffer-80%-full.
constexpr int kMaskAll = 0x5FF;
constexpr int kMaskDataOnly = 0x85;
constexpr int kMaskOpenClose = 0x38;

constexpr const char* kNotSerial = "not a serial device";

// The masters of pseudo-terminals: the multiplexer (/dev/ptmx, /dev/pts/ptmx) and the old BSD ones.
bool isPtyMaster(dev_t dev) {
    return (::major(dev) == 5 && ::minor(dev) == 2) || ::major(dev) == 2;
}

// The terminal side of a pseudo-terminal (/dev/pts/N: majors 136 to 143; the old BSD ones: 3),
// found by the open descriptor, so any link to it counts.
bool isPtySlave(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major = ::major(st.st_rdev);
    return (major >= 136 && major <= 143) || major == 3;
}

std::string osReason(int err) {
    if (err == ENOTTY) return kNotSerial;
    if (err == EACCES) return "Permission denied: add the user to the dialout group";
    if (err == EBUSY || err == EWOULDBLOCK) return "in use by another program";
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

void drainEventFd(int efd) {
    std::uint64_t v;
    while (::read(efd, &v, sizeof v) < 0 && errno == EINTR) {
    }
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// TIOCMIWAIT and tcdrain wait inside the driver, where no descriptor can reach them. The
// threads that call them are woken by this signal instead: its handler does nothing and is
// installed without SA_RESTART, so the waiting call returns EINTR. It is sent to one thread
// (pthread_kill), only while that thread is being stopped. Installed once, and only where the
// program has not given the signal a use of its own; without it the engine starts no modem
// watcher and never waits in tcdrain.
int interruptSignal() {
    static const int sig = [] {
        const int s = SIGRTMIN + 6;
        struct sigaction old {};
        if (s > SIGRTMAX || ::sigaction(s, nullptr, &old) != 0) return 0;
        if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) return 0;
        struct sigaction sa {};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        return ::sigaction(s, &sa, nullptr) == 0 ? s : 0;
    }();
    return sig;
}

void unblockInterruptSignal() {
    if (const int sig = interruptSignal()) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

// Joins a thread that may be waiting inside the driver: signals it until it has left its
// loop (a signal that lands just before the wait is lost, so it is repeated every 0.1 ms).
void joinInterrupting(std::thread& t, const std::atomic<bool>& done) {
    if (!t.joinable()) return;
    if (t.get_id() == std::this_thread::get_id()) {
        t.detach();
        return;
    }
    if (const int sig = interruptSignal()) {
        // Short steps: a thread woken by its stop descriptor is usually gone after the first.
        const timespec step{0, 100'000};
        while (!done.load(std::memory_order_acquire)) {
            pthread_kill(t.native_handle(), sig);
            ::nanosleep(&step, nullptr);
        }
    }
    t.join();
}

// A rate the driver reports back is the one asked for when it is within the 2 % a UART
// tolerates (a driver may round to what its clock divides to).
bool speedClose(std::uint32_t taken, std::uint32_t wanted) {
    const std::uint64_t diff = taken > wanted ? taken - wanted : wanted - taken;
    return taken != 0 && diff * 50 <= wanted;
}

// Modem-line events from a change of the status word (CTS 0x10, DSR 0x20, ring 0x40, RLSD 0x80).
int modemEventsOf(std::uint32_t changed) {
    return ((changed & 0x10) ? evCts : 0) | ((changed & 0x20) ? evDsr : 0) | ((changed & 0x40) ? evRing : 0) |
           ((changed & 0x80) ? evRlsd : 0);
}

} // namespace

TTalonComm::TTalonComm()
    : m_inQueue(std::make_unique<TCommQueue>(8192)), m_outQueue(std::make_unique<TCommQueue>(8192)) {}

TTalonComm::~TTalonComm() {
    try {
        Close();
    } catch (const ETalonCommError&) {
    }
    stopThreads();
    closeDescriptors();
}

std::string TTalonComm::DevicePath(const std::string& portName) {
    const int n = TCommSerialPortInfo::PortNo(portName);
    if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    if (!portName.empty() && portName[0] == '/') return portName;
    return "/dev/" + portName;
}

// ---- data path ----

long TTalonComm::Read(void* buf, long n) {
    const long k = m_inQueue->Out(static_cast<char*>(buf), n);
    if (k > 0) {
        // Pairs with the read thread's fence between raising the flag and its look at the room:
        // either it sees the room we made or we see its flag.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (m_rxWaitingRoom.load(std::memory_order_relaxed) &&
            m_rxWaitingRoom.exchange(false, std::memory_order_acq_rel))
            signal(m_readWakeFd);
    }
    return k;
}

long TTalonComm::Write(const void* buf, long n) {
    if (m_disableWrite.load(std::memory_order_relaxed)) return 0;
    const long k = m_outQueue->In(static_cast<const char*>(buf), n);
    if (k > 0) {
        m_writeGen.fetch_add(1, std::memory_order_acq_rel);
        // The write thread needs waking only when it sleeps for want of data; while it is busy
        // it takes these bytes on its next look at the queue. It raises the flag before that
        // look, and the fences order flag and queue on both sides: either it sees the bytes or
        // we see the flag.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (m_writerWaiting.load(std::memory_order_relaxed)) signal(m_writeWakeFd);
    }
    return k;
}

long TTalonComm::Command(const char* text) {
    if (!text) return 0;
    const long k = m_outQueue->In(text, static_cast<long>(std::strlen(text)));
    if (k > 0) m_writeGen.fetch_add(1, std::memory_order_acq_rel);
    signal(m_writeWakeFd);
    return k;
}

void TTalonComm::PurgeRead(bool /*abort*/) {
    if (!fGetActive()) return;
    // Bytes the read thread took from the driver before the flush must not reach the queue
    // after it. The thread drops what it read when the generation moved meanwhile; what it
    // already put in (or is putting in) the queue goes with the queue, emptied once it holds no
    // bytes any more. Its event handlers run while it holds none, so they may purge too.
    m_io->Flush(m_fd, true);
    m_readPurgeGen.fetch_add(1, std::memory_order_seq_cst);
    if (!onReadThread() && m_readHolding.load(std::memory_order_seq_cst))
        WaitUntil([&] { return !m_readHolding.load(std::memory_order_seq_cst); },
                  std::chrono::steady_clock::now() + std::chrono::seconds(1));
    m_inQueue->Discard();
    if (m_rxWaitingRoom.exchange(false, std::memory_order_acq_rel)) signal(m_readWakeFd);
}

void TTalonComm::PurgeWrite(bool abort) {
    if (!fGetActive()) return;
    m_outQueue->Discard();
    // Also ends a wait of the write thread for held output to drain.
    m_io->Flush(m_fd, false);
    if (abort) {
        // The chunk the write thread has taken from the queue is a write in progress: abort it,
        // and wait (bounded) until the thread has let go of it before the last flush.
        const std::uint64_t gen = m_purgeGen.fetch_add(1, std::memory_order_acq_rel) + 1;
        signal(m_writeWakeFd);
        WaitUntil([&] { return m_purgeAck.load(std::memory_order_acquire) >= gen; },
                  std::chrono::steady_clock::now() + std::chrono::seconds(1));
        m_io->Flush(m_fd, false);
    }
    signal(m_writeWakeFd);
}

void TTalonComm::ResetModem() {
    Command("ATZ\r");
}

void TTalonComm::InitModem() {
    char text[64];
    std::snprintf(text, sizeof text, "ATE0&K%dS0=%d\r", fGetFlowControl(), static_cast<int>(m_autoAnswer));
    Command(text);
}

bool TTalonComm::EscapeCommFunction(unsigned long code) {
    if (!fGetActive()) return false;
    switch (code) {
    case 1:
        return m_io->SetXon(m_fd, false);
    case 2:
        return m_io->SetXon(m_fd, true);
    case 3:
    case 4:
        if (!m_io->SetRts(m_fd, code == 3)) return false;
        m_rts = code == 3;
        return true;
    case 5:
    case 6:
        if (!m_io->SetDtr(m_fd, code == 5)) return false;
        m_dtr = code == 5;
        return true;
    case 8:
    case 9:
        return m_io->SetBreak(m_fd, code == 8);
    default:
        return false;
    }
}

// ---- waits ----

void TTalonComm::NotifyWaiters() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (m_waiters.load(std::memory_order_relaxed) == 0) return;
    { std::lock_guard<std::mutex> lock(m_waitMutex); }
    m_waitCv.notify_all();
}

bool TTalonComm::WaitUntil(const std::function<bool()>& pred,
                           std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_waiters.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    bool ok = false;
    while (true) {
        ok = pred();
        if (ok || !fGetActive() || m_waitCv.wait_until(lock, deadline) == std::cv_status::timeout) {
            ok = ok || pred();
            break;
        }
    }
    m_waiters.fetch_sub(1, std::memory_order_relaxed);
    return ok && fGetActive();
}

bool TTalonComm::WaitWriteRoom(long n, std::chrono::milliseconds timeout) {
    if (!fGetActive() || n > m_outQueue->BufSize() - 1) return false;
    return WaitUntil([&] { return m_outQueue->Remain() >= n; }, std::chrono::steady_clock::now() + timeout);
}

bool TTalonComm::WaitWriteDrained(std::chrono::milliseconds timeout) {
    if (!fGetActive()) return false;
    const std::uint64_t gen = m_writeGen.load(std::memory_order_acquire);
    return WaitUntil([&] { return m_drainedGen.load(std::memory_order_acquire) >= gen; },
                     std::chrono::steady_clock::now() + timeout);
}

// ---- open / close ----

void TTalonComm::fSetActive(bool b) {
    if (b)
        Open();
    else
        Close();
}

std::string TTalonComm::openDevice(int& code) {
    if (TNetLine::IsNetName(m_portName)) {
        auto net = std::make_unique<TNetLine>();
        std::string reason;
        const int fd = net->Connect(m_portName, reason);
        if (fd < 0) {
            code = 4;
            return reason;
        }
        m_fd = fd;
        m_net = std::move(net);
        m_ioBeforeNet = m_io;
        m_io = m_net.get();
        return {};
    }
    const std::string path = DevicePath(m_portName);
    // Opening the pseudo-terminal multiplexer would make a new terminal pair, not reach a port.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && isPtyMaster(st.st_rdev)) {
        code = 4;
        return kNotSerial;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        code = 4;
        return osReason(errno);
    }
    // A file, a FIFO or a device that is no terminal (/dev/null) has no line to set.
    if (!::isatty(fd)) {
        ::close(fd);
        code = 8;
        return kNotSerial;
    }
    // TIOCEXCL keeps other users out, but root ignores it: the lock keeps two of ours apart.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        code = 4;
        return osReason(err);
    }
    (void)::ioctl(fd, TIOCEXCL);
    TSerialLine::RequestLowLatency(fd);
    m_fd = fd;
    return {};
}

void TTalonComm::Open() {
    if (fGetActive()) return;
    // A second read thread would feed the one receive queue beside this one, which goes on
    // after its handler returns; only the hang-up report ends this thread right after.
    if (onReadThread() && m_hangupReporter.load(std::memory_order_acquire) != std::this_thread::get_id())
        throw ETalonCommError(11, m_portName, "the port cannot be opened from its own event handler");
    // Leftovers of a port that vanished under us.
    stopThreads();
    dropOutputOfVanishedDevice();
    closeDescriptors();

    int code = 0;
    std::string reason;
    if (!m_inQueue->IsValid())
        code = 2;
    else if (!m_outQueue->IsValid())
        code = 3;
    if (!code && !m_externalHandle) reason = openDevice(code);
    if (!code) {
        if (!m_externalHandle) {
            if (m_dcb.DtrControl != dtrHandshake) m_dcb.DtrControl = m_dtr ? dtrEnable : dtrDisable;
            if (m_dcb.RtsControl != rtsHandshake && m_dcb.RtsControl != rtsToggle)
                m_dcb.RtsControl = m_rts ? rtsEnable : rtsDisable;
            // A byte size the line cannot have, or baud 0 (which would drop the line), is refused
            // rather than replaced by something that opens.
            TSerialLine::SaveLine(m_fd, m_savedLine);
            std::uint32_t taken = 0;
            if (m_dcb.ByteSize < 5 || m_dcb.ByteSize > 8 || m_dcb.BaudRate == 0) {
                code = 8;
            } else if (errno = 0; !m_io->ApplyLine(m_fd, m_dcb, taken)) {
                code = 8;
                if (errno != 0) reason = osReason(errno);
                // A network port whose server hung up right after connecting was not opened.
                if (m_net && !m_net->Failure().empty()) {
                    code = 4;
                    reason = m_net->Failure();
                }
            } else if (!speedClose(taken, m_dcb.BaudRate)) {
                // A driver that cannot make the rate falls back to another one without a word.
                code = 8;
                reason = "the driver set " + std::to_string(taken) + " baud instead of " +
                         std::to_string(m_dcb.BaudRate);
            } else {
                // Pseudo-terminals have no modem lines; they refuse these, which is fine.
                m_io->SetDtr(m_fd, m_dcb.DtrControl != dtrDisable);
                if (m_dcb.RtsControl != rtsHandshake) m_io->SetRts(m_fd, m_dcb.RtsControl != rtsDisable);
            }
        } else if (m_fd < 0 || (m_externalFlags = ::fcntl(m_fd, F_GETFL)) < 0) {
            code = 7;
        } else if (!(m_externalFlags & O_NONBLOCK) && ::fcntl(m_fd, F_SETFL, m_externalFlags | O_NONBLOCK) != 0) {
            // The threads need a non-blocking descriptor: a blocking write could hold Close.
            code = 8;
        }
    }
    if (!code) {
        m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_readWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stopFd < 0 || m_readWakeFd < 0) code = 9;
    }
    if (!code) {
        m_writeWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_writeWakeFd < 0) code = 10;
    }
    bool watchModem = false;
    if (!code) {
        m_rxWaitingRoom.store(false);
        m_txEmptyPending.store(false);
        m_writeFailed.store(false);
        m_modemEvents.store(0);
        m_purgeAck.store(m_purgeGen.load());
        m_readHolding.store(false);
        m_badBytes.store(0);
        m_markedParity = !m_externalHandle && m_dcb.Parity != 0;
        // Bytes queued while the port was closed are not drained yet.
        const std::uint64_t gen = m_writeGen.load();
        m_drainedGen.store(m_outQueue->Count() > 0 && gen > 0 ? gen - 1 : gen);
        m_disableWrite.store(false, std::memory_order_relaxed);
        if (m_paceBlindLines && (m_net || isPtySlave(m_fd))) {
            m_paced = std::make_unique<TPacedLineIo>(m_dcb.BaudRate, *m_io);
            m_ioBeforePace = m_io;
            m_io = m_paced.get();
        }
        // The counters come before the status: a line that changes between the two, or before
        // the watcher's first wait, shows in them (the watcher compares before it waits).
        m_haveCounters = m_io->Counters(m_fd, m_counters);
        m_openCounters = m_counters;
        std::uint32_t status = 0;
        watchModem = m_io->ModemStatus(m_fd, status) && interruptSignal() != 0;
        m_modemStatus.store(watchModem ? status : 0, std::memory_order_relaxed);
        m_dtr = m_dcb.DtrControl != dtrDisable;
        m_rts = m_dcb.RtsControl != rtsDisable;
        // Active before the threads run: a hang-up they meet at once is reported and ends the
        // port, instead of being dropped as one that Close got to first.
        m_active.store(true, std::memory_order_release);
        m_readRun.store(true, std::memory_order_release);
        try {
            m_readThread = std::thread(&TTalonComm::_ReadThread, this, ++m_readEpoch);
        } catch (const std::system_error&) {
            m_readRun.store(false);
            code = 11;
        }
    }
    if (!code) {
        m_writeRun.store(true, std::memory_order_release);
        m_writeDone.store(false, std::memory_order_release);
        try {
            m_writeThread = std::thread(&TTalonComm::_WriteThread, this);
        } catch (const std::system_error&) {
            m_writeRun.store(false);
            code = 12;
        }
    }
    if (!code && watchModem) {
        m_modemRun.store(true, std::memory_order_release);
        m_modemDone.store(false, std::memory_order_release);
        try {
            m_modemThread = std::thread(&TTalonComm::_ModemThread, this);
        } catch (const std::system_error&) {
            m_modemRun.store(false);
            m_modemStatus.store(0, std::memory_order_relaxed); // the lines stay unknown
        }
    }
    m_readStart.store(m_readEpoch.load(std::memory_order_relaxed), std::memory_order_release);
    m_readStart.notify_all();
    if (code) {
        m_active.store(false, std::memory_order_release);
        stopThreads();
        closeDescriptors();
        throw ETalonCommError(static_cast<TErrorCode>(code), m_portName, reason);
    }
    // The device went away while opening: the read thread has reported it and ended the port.
    if (!fGetActive()) return;
    CommNotify(kMaskOpenClose);
    CommAfterOpen();
}

void TTalonComm::Close() {
    // A paced line holds in its queue what a UART's driver would hold: it leaves first, as the
    // driver's own queue is let drain when the descriptor closes.
    if (m_paced && fGetActive()) WaitWriteDrained(std::chrono::milliseconds(500));
    const bool wasActive = fGetActive();
    if (wasActive) CommBeforeClose();
    const bool wasOpen = m_stopFd >= 0;
    stopThreads();
    dropOutputOfVanishedDevice();
    closeDescriptors();
    // Only a port that was open takes its lines from the control block: a wish recorded while
    // closed must survive the closing setters called before the next open.
    if (wasOpen) {
        m_dtr = m_dcb.DtrControl != dtrDisable;
        m_rts = m_dcb.RtsControl != rtsDisable;
    }
    if (wasActive && m_active.exchange(false, std::memory_order_acq_rel)) {
        m_modemStatus.store(0, std::memory_order_relaxed);
        NotifyWaiters();
        CommNotify(kMaskOpenClose);
    }
}

void TTalonComm::dropOutputOfVanishedDevice() {
    // Bytes still queued when the device went away were meant for it: sent to the device opened
    // next (the board plugged in again), they would arrive out of context, after the user was
    // told how far the work got. A port closed in good order keeps them for its next opening.
    if (m_hungUp.exchange(false, std::memory_order_acq_rel)) m_outQueue->Discard();
}

void TTalonComm::stopThreads() {
    m_readRun.store(false, std::memory_order_release);
    m_writeRun.store(false, std::memory_order_release);
    m_modemRun.store(false, std::memory_order_release);
    signal(m_stopFd);
    if (m_readThread.joinable()) {
        // A handler of the hang-up report that reopens the port runs on the read thread,
        // which ends right after the handler returns.
        if (m_readThread.get_id() == std::this_thread::get_id()) {
            if (m_retiredReadThread.joinable()) m_retiredReadThread.join();
            m_retiredReadThread = std::move(m_readThread);
        } else {
            m_readThread.join();
        }
    }
    if (m_retiredReadThread.joinable() && m_retiredReadThread.get_id() != std::this_thread::get_id())
        m_retiredReadThread.join();
    joinInterrupting(m_writeThread, m_writeDone);
    joinInterrupting(m_modemThread, m_modemDone);
}

void TTalonComm::closeDescriptors() {
    closeFd(m_stopFd);
    closeFd(m_readWakeFd);
    closeFd(m_writeWakeFd);
    if (m_externalHandle && m_externalFlags >= 0) {
        // The caller's descriptor gets its own file status flags back (unless it closed it).
        if (!m_externalGone.exchange(false)) (void)::fcntl(m_fd, F_SETFL, m_externalFlags);
        m_externalFlags = -1;
    }
    if (m_fd >= 0 && !m_externalHandle) {
        // Output still in the driver gets the time its bytes need on the wire; what is left
        // after that is dropped, so that a stuck device cannot hold close() for the kernel's
        // closing wait. Nothing is flushed when the driver is empty: on a pseudo-terminal a
        // flush would also drop bytes on their way to the other side.
        int outq = TSerialLine::OutQueue(m_fd);
        if (outq > 0) {
            const std::uint32_t baud = std::max<std::uint32_t>(m_dcb.BaudRate, 300);
            const auto deadline =
                std::chrono::steady_clock::now() +
                std::chrono::milliseconds(std::min<std::uint64_t>(500, outq * 10000ull / baud + 50));
            while (outq > 0 && std::chrono::steady_clock::now() < deadline) {
                ::poll(nullptr, 0, 2);
                outq = TSerialLine::OutQueue(m_fd);
            }
            if (outq > 0) TSerialLine::FlushOutput(m_fd);
        }
        // The port gets back the settings it had (a console its cooked mode and its baud).
        if (m_savedLine.Valid) TSerialLine::RestoreLine(m_fd, m_savedLine);
        m_savedLine.Valid = false;
        (void)::ioctl(m_fd, TIOCNXCL);
        closeFd(m_fd);
    }
    if (m_paced) {
        m_io = m_ioBeforePace;
        m_paced.reset();
    }
    if (m_net) {
        m_io = m_ioBeforeNet;
        m_net.reset();
    }
}

void TTalonComm::signal(int efd) {
    if (efd < 0) return;
    const std::uint64_t one = 1;
    while (::write(efd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// ---- notifications ----

void TTalonComm::CommNotify(int mask) {
    if (!OnCommNotify) return;
    try {
        OnCommNotify(this, mask);
    } catch (...) {
    }
}

void TTalonComm::CommAfterOpen() {
    if (!AfterOpen) return;
    try {
        AfterOpen(this);
    } catch (...) {
    }
}

void TTalonComm::CommBeforeClose() {
    if (!BeforeClose) return;
    try {
        BeforeClose(this);
    } catch (...) {
    }
}

void TTalonComm::reportHangup() {
    m_hungUp.store(true, std::memory_order_release);
    m_writeRun.store(false, std::memory_order_release);
    signal(m_stopFd);
    if (!m_active.exchange(false, std::memory_order_acq_rel)) return; // Close got there first
    m_modemStatus.store(0, std::memory_order_relaxed);
    NotifyWaiters();
    m_hangupReporter.store(std::this_thread::get_id(), std::memory_order_release);
    CommNotify(evHangup);
    std::thread::id self = std::this_thread::get_id();
    m_hangupReporter.compare_exchange_strong(self, std::thread::id{}, std::memory_order_acq_rel);
}

// ---- threads ----

int TTalonComm::lineEvents() {
    int mask = m_modemEvents.exchange(0, std::memory_order_acq_rel);
    // Line errors and breaks come with the bytes they spoiled: the driver counts them.
    TLineCounters now;
    if (m_haveCounters && m_io->Counters(m_fd, now)) {
        if (now.Frame != m_counters.Frame || now.Overrun != m_counters.Overrun ||
            now.Parity != m_counters.Parity || now.BufOverrun != m_counters.BufOverrun)
            mask |= evErr;
        if (now.Break != m_counters.Break) mask |= evBreak;
        m_counters = now;
    }
    return mask;
}

// Takes the parity marks out of bytes read with PARMRK (0xFF 0xFF is a data 0xFF, 0xFF 0x00 b a
// byte received with an error, which is dropped and counted); a mark may straddle two reads.
// Returns the number of data bytes left at the start of buf.
long TTalonComm::unmarkParity(char* buf, long n, int& state, int& bad) {
    long out = 0;
    for (long i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(buf[i]);
        if (state == 0 && b == 0xFF) {
            state = 1;
        } else if (state == 0) {
            buf[out++] = static_cast<char>(b);
        } else if (state == 1 && b == 0x00) {
            state = 2;
        } else if (state == 1) {
            buf[out++] = static_cast<char>(0xFF);
            state = 0;
            if (b != 0xFF) --i; // not a mark after all: the byte is data of its own
        } else {
            ++bad;
            state = 0;
        }
    }
    return out;
}

void TTalonComm::_ReadThread(std::uint64_t epoch) {
    pthread_setname_np(pthread_self(), "evb-read");
    m_readThreadId.store(std::this_thread::get_id(), std::memory_order_release);
    for (std::uint64_t at = m_readStart.load(std::memory_order_acquire); at < epoch;
         at = m_readStart.load(std::memory_order_acquire))
        m_readStart.wait(at, std::memory_order_acquire);
    char buf[kReadBlock];
    int markState = 0;
    // A handler that closed the port on this thread let it go on alone: once the port is open
    // again, the new read thread serves it and this one ends.
    while (m_readRun.load(std::memory_order_acquire) && m_readEpoch.load(std::memory_order_acquire) == epoch) {
        bool full = m_inQueue->Remain() == 0;
        if (full) {
            m_rxWaitingRoom.store(true, std::memory_order_relaxed);
            // Pairs with the fence in Read: room made between the test and the flag is seen here.
            std::atomic_thread_fence(std::memory_order_seq_cst);
            if (m_inQueue->Remain() > 0 && m_rxWaitingRoom.exchange(false, std::memory_order_acq_rel)) continue;
        }
        // With the receive queue full the device is still watched for a hang-up (which poll
        // reports whatever is asked), just not for data.
        pollfd fds[3] = {{m_fd, static_cast<short>(full ? 0 : POLLIN), 0},
                         {m_stopFd, POLLIN, 0},
                         {m_readWakeFd, POLLIN, 0}};
        int mask = 0;
        bool hangup = false;
        if (m_io->Poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            // Waiting is impossible: the port cannot be served any more.
            fds[0].revents = fds[1].revents = fds[2].revents = 0;
            mask |= evErr;
            hangup = true;
        }
        if ((fds[1].revents & POLLIN) || !m_readRun.load(std::memory_order_acquire)) break;
        if (fds[2].revents & POLLIN) drainEventFd(m_readWakeFd);

        if (fds[0].revents & POLLNVAL) {
            // The descriptor was closed under us (an external one, by its owner).
            m_externalGone.store(true);
            hangup = true;
        } else if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            // Read what is there (a vanished device may still hold bytes), then judge. Bytes
            // are held from the read until they are in the queue (see PurgeRead).
            m_readHolding.store(true, std::memory_order_seq_cst);
            const std::uint64_t purgeSeen = m_readPurgeGen.load(std::memory_order_seq_cst);
            while (true) {
                const long room = std::min(kReadBlock, m_inQueue->Remain());
                if (room <= 0) break;
                const long n = m_io->Read(m_fd, buf, static_cast<size_t>(room));
                if (n > 0) {
                    // Read before the flush of a purge that has begun since: dropped.
                    if (m_readPurgeGen.load(std::memory_order_seq_cst) != purgeSeen) {
                        markState = 0;
                        break;
                    }
                    long k = n;
                    if (m_markedParity) {
                        int bad = 0;
                        k = unmarkParity(buf, n, markState, bad);
                        if (bad) {
                            m_badBytes.fetch_add(static_cast<std::uint64_t>(bad), std::memory_order_relaxed);
                            mask |= evErr;
                        }
                    }
                    if (k > 0) {
                        m_lastReceived.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                                             std::memory_order_release);
                        m_inQueue->In(buf, k);
                        mask |= evRxChar;
                    }
                    if (n < room) break;
                    continue;
                }
                if (n == 0 || errno == EIO || errno == ENXIO || errno == ENODEV) {
                    hangup = true;
                } else if (errno == EINTR) {
                    continue;
                } else if (errno != EAGAIN) {
                    // Not a passing state: reported once, and the port ends as if it vanished,
                    // instead of failing the same way on every pass.
                    mask |= evErr;
                    hangup = true;
                }
                break;
            }
            m_readHolding.store(false, std::memory_order_seq_cst);
            NotifyWaiters();
            if ((fds[0].revents & (POLLHUP | POLLERR)) && !(mask & evRxChar) && !hangup) hangup = true;
        }
        if (m_writeFailed.load(std::memory_order_acquire)) {
            mask |= evErr;
            hangup = true;
        }
        mask |= lineEvents();
        if (m_txEmptyPending.exchange(false, std::memory_order_acq_rel)) mask |= evTxEmpty;
        mask &= m_dataOnly ? kMaskDataOnly : kMaskAll;
        if (mask) CommNotify(mask);
        if (hangup) {
            reportHangup();
            break;
        }
    }
    // A read thread of a reopened port has put its own mark here already.
    std::thread::id self = std::this_thread::get_id();
    m_readThreadId.compare_exchange_strong(self, std::thread::id{}, std::memory_order_acq_rel);
}

void TTalonComm::_ModemThread() {
    pthread_setname_np(pthread_self(), "evb-modem");
    unblockInterruptSignal();
    std::uint32_t last = m_modemStatus.load(std::memory_order_relaxed);
    // What Open saw: a change since then, before the first wait, is looked for at once.
    TLineCounters counts = m_openCounters;
    const bool counted = m_haveCounters;
    bool first = true;
    while (m_modemRun.load(std::memory_order_acquire)) {
        const int err = first ? 0 : m_io->WaitModemChange(m_fd);
        first = false;
        if (!m_modemRun.load(std::memory_order_acquire)) break;
        if (err == EINTR) continue;
        if (err != 0) break; // the driver cannot wait, or the device is gone (the reader reports it)
        std::uint32_t now = 0;
        if (!m_io->ModemStatus(m_fd, now)) break;
        int events = modemEventsOf(now ^ last);
        // The counters see a pulse (a ring) that is over before the status is read.
        TLineCounters c;
        if (counted && m_io->Counters(m_fd, c)) {
            events |= (c.Cts != counts.Cts ? evCts : 0) | (c.Dsr != counts.Dsr ? evDsr : 0) |
                      (c.Ring != counts.Ring ? evRing : 0) | (c.Rlsd != counts.Rlsd ? evRlsd : 0);
            counts = c;
        }
        const bool ctsReleased = (now & ~last & 0x10) != 0;
        last = now;
        m_modemStatus.store(now, std::memory_order_relaxed);
        if (events) {
            m_modemEvents.fetch_or(events, std::memory_order_acq_rel);
            signal(m_readWakeFd);
        }
        // Output held by CTS moves again: the writer looks at the queues towards transmit-empty.
        if (ctsReleased) signal(m_writeWakeFd);
    }
    m_modemDone.store(true, std::memory_order_release);
}

void TTalonComm::_WriteThread() {
    pthread_setname_np(pthread_self(), "evb-write");
    unblockInterruptSignal();
    char chunk[kWriteChunk];
    long fill = 0;
    long sent = 0;
    bool broken = false;
    // The driver still held output after the time its bytes need on the wire.
    bool heldLooked = false;
    std::uint64_t purgeSeen = m_purgeAck.load(std::memory_order_acquire);
    while (m_writeRun.load(std::memory_order_acquire)) {
        const std::uint64_t purge = m_purgeGen.load(std::memory_order_acquire);
        if (purge != purgeSeen) {
            // An aborting purge: the chunk in hand is dropped with the rest.
            purgeSeen = purge;
            fill = sent = 0;
            m_purgeAck.store(purge, std::memory_order_release);
            NotifyWaiters();
        }
        pollfd fds[3] = {{m_stopFd, POLLIN, 0}, {m_writeWakeFd, POLLIN, 0}, {-1, POLLOUT, 0}};
        int timeout = -1;
        if (!broken && sent < fill) {
            heldLooked = false;
            const long n = m_io->Write(m_fd, chunk + sent, static_cast<size_t>(fill - sent));
            if (n > 0) {
                sent += n;
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                fds[2].fd = m_fd;
            } else {
                // The device is gone: the read thread reports it; nothing more can be sent.
                broken = true;
                fill = sent = 0;
            }
        } else if (!broken) {
            const std::uint64_t gen = m_writeGen.load(std::memory_order_acquire);
            m_writerWaiting.store(true, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_seq_cst);
            const long k = m_outQueue->Out(chunk, kWriteChunk);
            if (k > 0) {
                m_writerWaiting.store(false, std::memory_order_relaxed);
                fill = k;
                sent = 0;
                NotifyWaiters();
                continue;
            }
            const int outq = m_io->OutQueue(m_fd);
            if (outq > 0 && !heldLooked) {
                // Bytes still in the driver: look again when they should have left the wire.
                heldLooked = true;
                const std::uint32_t baud = std::max<std::uint32_t>(m_dcb.BaudRate, 300);
                timeout = static_cast<int>(
                    std::clamp<std::uint64_t>(static_cast<std::uint64_t>(outq) * 10000u / baud + 1, 1, 1000));
            } else if (outq > 0 && interruptSignal() != 0) {
                // The driver holds the output (flow control): wait in the driver until it has
                // drained, without waking meanwhile. New bytes wait as well, which costs
                // nothing while the line is stopped; PurgeWrite's flush and Close end the wait.
                const int err = m_io->WaitDrained(m_fd);
                m_writerWaiting.store(false, std::memory_order_relaxed);
                heldLooked = false;
                if (err != 0 && err != EINTR) broken = true;
                continue;
            } else if (outq > 0) {
                timeout = 1000; // no way to wait in the driver: look now and then
            } else {
                heldLooked = false;
                if (m_drainedGen.load(std::memory_order_relaxed) < gen) {
                    m_drainedGen.store(gen, std::memory_order_release);
                    m_txEmptyPending.store(true, std::memory_order_release);
                    signal(m_readWakeFd);
                    NotifyWaiters();
                }
            }
        }
        const int polled = m_io->Poll(fds, 3, timeout);
        if (polled < 0 && errno != EINTR) {
            // The write side cannot wait any more: the read thread ends the port and says so.
            m_writeFailed.store(true, std::memory_order_release);
            signal(m_readWakeFd);
            break;
        }
        m_writerWaiting.store(false, std::memory_order_relaxed);
        if (fds[0].revents & POLLIN) break;
        if (fds[1].revents & POLLIN) drainEventFd(m_writeWakeFd);
        if (fds[2].revents & (POLLNVAL | POLLERR)) broken = true;
    }
    m_writeDone.store(true, std::memory_order_release);
}

// ---- settings ----

void TTalonComm::fSetPort(int n) {
    Close();
    m_port = n;
    if (n > 0) m_portName = TCommSerialPortInfo::PortName(n);
    releaseExternalHandle();
}

void TTalonComm::fSetPortName(const std::string& name) {
    if (name.empty()) return;
    const int n = TCommSerialPortInfo::PortNo(name);
    Close();
    m_port = n;
    m_portName = n >= 1 ? TCommSerialPortInfo::PortName(n) : name;
    releaseExternalHandle();
}

void TTalonComm::releaseExternalHandle() {
    // The descriptor stays the caller's: the engine forgets it rather than closing it later.
    if (m_externalHandle) m_fd = -1;
    m_externalHandle = false;
}

void TTalonComm::fSetHandle(int fd) {
    Close();
    releaseExternalHandle();
    m_port = 0;
    m_portName.clear();
    m_fd = fd;
    m_externalHandle = true;
}

void TTalonComm::fSetBaudRate(std::uint32_t baud) {
    Close();
    m_dcb.BaudRate = baud;
}

void TTalonComm::fSetParity(std::uint8_t parity) {
    Close();
    m_dcb.Parity = parity;
}

void TTalonComm::fSetByteSize(std::uint8_t bits) {
    Close();
    m_dcb.ByteSize = bits;
}

void TTalonComm::fSetStopBits(std::uint8_t code) {
    Close();
    m_dcb.StopBits = code;
}

void TTalonComm::fSetDataOnly(bool b) {
    Close();
    m_dataOnly = b;
}

void TTalonComm::fSetHwInSize(long n) {
    Close();
    m_hwInSize = n;
}

void TTalonComm::fSetHwOutSize(long n) {
    Close();
    m_hwOutSize = n;
}

void TTalonComm::fSetInBufSize(long n) {
    const bool wasActive = fGetActive();
    Close();
    m_inQueue->SetBufSize(n);
    if (wasActive) Open();
}

void TTalonComm::fSetOutBufSize(long n) {
    const bool wasActive = fGetActive();
    Close();
    m_outQueue->SetBufSize(n);
    if (wasActive) Open();
}

int TTalonComm::fGetFlowControl() const {
    if (m_dcb.fOutxCtsFlow && m_dcb.fOutX) return 6;
    if (m_dcb.fOutxCtsFlow) return 3;
    if (m_dcb.fOutX) return 4;
    return 0;
}

void TTalonComm::fSetFlowControl(int code) {
    Close();
    if (code != 3 && code != 4 && code != 5 && code != 6) code = 0;
    const bool hardware = code == 3 || code == 6;
    const bool software = code == 4 || code == 5 || code == 6;
    m_dcb.RtsControl = hardware ? rtsHandshake : rtsEnable;
    m_dcb.fOutxCtsFlow = hardware;
    m_dcb.fOutX = software;
    m_dcb.fInX = software;
    m_dcb.DtrControl = dtrEnable;
    m_dcb.fOutxDsrFlow = false;
}

void TTalonComm::fSetDTR(bool b) {
    if (!fGetActive())
        m_dtr = b;
    else
        EscapeCommFunction(b ? 5 : 6);
}

void TTalonComm::fSetRTS(bool b) {
    if (!fGetActive())
        m_rts = b;
    else
        EscapeCommFunction(b ? 3 : 4);
}

} // namespace TalonComm
