#include "protocol/BoardSession.h"

#include "protocol/Command.h"
#include "protocol/LinkMeaning.h"
#include "protocol/TextConv.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommPackage.h"
#include "serial/TNetLine.h"
#include "serial/TTalonComm.h"

#include <algorithm>
#include <array>

namespace evb {

namespace {

constexpr int kPackageCompleted = 1;
// The engine's report of its port opened or closed, raised on the thread that did it.
constexpr int kOpenCloseReport = 0x38;

// The facades' session: one per thread, so that sessions on different threads stay apart.
thread_local BoardSession* tCurrent = nullptr;

} // namespace

ReplyEvent DecodeReply(std::uint8_t kind, const std::uint8_t* package, std::size_t n, int registerCount) {
    std::array<std::uint8_t, kReplyBufferSize> buf{}; // a short reply reads as zeros
    std::copy_n(package, std::min(n, kReplyBufferSize), buf.begin());
    ReplyEvent e;
    e.replyKind = kind;
    switch (kind) {
    case kReplyRegister:
        e.kind = ReplyEvent::Kind::RegisterValue;
        e.bytes = {buf[0]};
        break;
    case kReplyBlock:
        e.kind = ReplyEvent::Kind::RegisterBlock;
        e.bytes.assign(buf.begin(), buf.end());
        e.count = registerCount;
        break;
    case kReplyBoardInfo:
        e.kind = ReplyEvent::Kind::BoardInfo;
        e.bytes.assign(buf.begin(), buf.begin() + 18);
        break;
    default:
        e.kind = ReplyEvent::Kind::Consumed;
        e.bytes.assign(package, package + std::min(n, kReplyBufferSize));
        break;
    }
    return e;
}

std::size_t TakePackage(TalonComm::TRkCustomCommDevice& device, std::vector<std::uint8_t>& buf) {
    buf.resize(std::max<std::size_t>(device.fGetPackageSize(), kReplyBufferSize));
    const long got = device.Read(buf.data(), static_cast<long>(buf.size()));
    buf.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return buf.size();
}

BoardSession::BoardSession(ISessionSink* sink, Options options)
    : m_sink(sink), m_options(std::move(options)), m_owner(std::this_thread::get_id()) {
    m_known.fill(-1);
    SetLine(m_options.line);
    // A pseudo-terminal (the simulated board) or a network port takes a whole batch into its
    // buffer at once; paced, the sends, the progress and Stop follow the board instead.
    m_device.Engine()->SetPaceBlindLines(true);
    m_device.OnPackage = [this](TalonComm::TObject*, int notifyType) {
        if (notifyType != kPackageCompleted) return;
        {
            std::lock_guard<std::mutex> lock(m_packageMutex);
            m_counters.queued.fetch_add(1, std::memory_order_release);
        }
        m_packageCv.notify_all();
        if (m_sink) m_sink->Wake({SessionWake::Kind::Package, 0, {}});
    };
    m_device.OnCommNotify = [this](TalonComm::TObject*, int notifyType) { onComm(notifyType); };
    // What the device is (its persistent name, its USB identity) is taken while it is there:
    // once it went away, so did they.
    m_device.AfterOpen = [this](TalonComm::TObject*) {
        if (m_options.reopens)
            m_portIdentity =
                TalonComm::TPortWatch::Identify(TalonComm::TTalonComm::DevicePath(m_device.fGetPortName()),
                                                m_options.byIdDir, m_options.sysRoot);
    };
}

BoardSession::~BoardSession() {
    m_portWatch.Stop();
    stopRetry();
    // The worker threads stop before the callbacks that point here go away.
    try {
        m_device.fSetActive(false);
    } catch (...) {
    }
    m_device.OnPackage = nullptr;
    m_device.OnCommNotify = nullptr;
    m_device.AfterOpen = nullptr;
}

void BoardSession::SetLine(TalonComm::TLineIo* line) {
    m_options.line = line;
    // The engine's threads use the line while the port is open: an open port takes it when it closes.
    if (!m_device.fGetActive()) m_device.Engine()->SetLineIo(line);
}

void BoardSession::onComm(int notifyType) {
    if (notifyType == kOpenCloseReport && std::this_thread::get_id() == m_owner) {
        const bool open = m_device.Engine()->fGetActive();
        if (!open) m_device.Engine()->SetLineIo(m_options.line);
        LogPortEvent(m_log, m_device.fGetPortName(), open ? "opened" : "closed");
        if (open) m_known.fill(-1); // the board may have been reset meanwhile
        if (const std::string note = m_device.Engine()->TakeLineNote(); !note.empty())
            LogPortEvent(m_log, m_device.fGetPortName(), note);
        return;
    }
    if (!m_sink) return;
    if (notifyType & TalonComm::evHangup) m_sink->Wake({SessionWake::Kind::PortGone, 0, {}});
    // A configuration send in progress waits for this to send its next line.
    if (notifyType & TalonComm::evTxEmpty) m_sink->Wake({SessionWake::Kind::TransmitterEmpty, 0, {}});
}

// ---------------------------------------------------------------------------------------------
// Transmitter

SendStatus BoardSession::Send(const CommandRecord& record) {
    if (boardReady == 0) return SendStatus::Suppressed;
    // While a batch is open only its sender may write: anything else would land inside it.
    if (m_batchOwner != nullptr && !m_ownerSending) return SendStatus::Suppressed;
    if (m_watchDone) finishWatchRead();
    expectedReply = kReplySendingMark;
    const SendStatus status = sendFrame(record);
    if (status != SendStatus::Sent) return status;
    m_userAwaiting = true;
    m_userTraffic = std::chrono::steady_clock::now();
    noteSent(record);
    return status;
}

SendStatus BoardSession::sendFrame(const CommandRecord& record) {
    if (!m_device.fGetActive()) {
        if (m_sink) m_sink->ShowWarning("COM1 used by others Device!", "");
        return SendStatus::PortNotActive;
    }
    m_transmitBuffer = MakeFrame(record);
    // The frame goes to the transmit queue whole or not at all: waiting here for room is what
    // keeps a long batch intact when the line is slower than the sender.
    if (!m_device.WaitWriteRoom(static_cast<long>(kFrameSize), sendTimeout)) {
        if (!m_device.fGetActive()) {
            if (m_sink) m_sink->ShowWarning("COM1 used by others Device!", "");
            return SendStatus::PortNotActive;
        }
        if (m_sink)
            m_sink->ConsoleAppend("Frame not sent: the transmit queue had no room for it within " +
                                  std::to_string(sendTimeout.count()) + " ms\r\n");
        return SendStatus::NoRoom;
    }
    const long written = m_device.Write(m_transmitBuffer.data(), static_cast<long>(kFrameSize));
    if (written != static_cast<long>(kFrameSize)) {
        if (m_sink)
            m_sink->ConsoleAppend(written > 0 ? "Frame not sent whole: only " + std::to_string(written) +
                                                    " of 20 bytes were queued\r\n"
                                              : std::string("Frame not sent: the transmit queue refused it\r\n"));
        return SendStatus::NoRoom;
    }
    expectedReply = kFrameEnd; // the last byte written, as after a byte-by-byte send
    ++m_framesSent;
    LogFrameSent(m_log, m_transmitBuffer);
    return SendStatus::Sent;
}

// ---------------------------------------------------------------------------------------------
// Watch reads

bool BoardSession::WatchReadAllowed() const {
    const auto now = std::chrono::steady_clock::now();
    if (boardReady == 0 || m_batchOwner != nullptr || !m_device.fGetActive()) return false;
    if (m_watchDone && now - m_watchSent < kWatchReplyWait) return false;
    if (m_userAwaiting && now - m_userTraffic < kUserReplyWait) return false;
    return now - m_userTraffic >= kQuietGap;
}

bool BoardSession::WatchRead(std::uint8_t start, int count, WatchReply done) {
    if (!WatchReadAllowed() || count < 1 || count > 256) return false;
    if (m_watchDone) dropWatchRead();
    const std::uint8_t expected = expectedReply;
    CommandRecord record{0x01, start, static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count & 0xFF)};
    m_packagesSeen = m_counters.queued.load(std::memory_order_acquire);
    const SendStatus status = sendFrame(record);
    expectedReply = expected;
    if (status != SendStatus::Sent) return false;
    m_watchDone = std::move(done);
    m_watchStart = start;
    m_watchCount = count;
    m_watchSent = std::chrono::steady_clock::now();
    return true;
}

bool BoardSession::takeWatchReply(const std::uint8_t* package, std::size_t n) {
    if (!m_watchDone) return false;
    const WatchReply done = std::move(m_watchDone);
    m_watchDone = nullptr;
    const std::size_t count = std::min(n, static_cast<std::size_t>(m_watchCount));
    LogPackage(m_log, package, n, "watch read of " + std::to_string(m_watchCount) + " registers from 0x" + Hex2(m_watchStart));
    std::vector<std::uint8_t> values(package, package + count);
    for (std::size_t i = 0; i < count; ++i)
        m_known[(m_watchStart + i) & 0xFF] = values[i];
    done(values);
    return true;
}

void BoardSession::finishWatchRead() {
    // The answer is on its way: take it here, before the user's command goes out.
    std::unique_lock<std::mutex> lock(m_packageMutex);
    const int seen = m_packagesSeen;
    const bool closed = m_packageCv.wait_until(lock, m_watchSent + kWatchReplyWait, [&] {
        return m_counters.queued.load(std::memory_order_acquire) != seen;
    });
    lock.unlock();
    std::vector<std::uint8_t> buf;
    if (closed && TakePackage(m_device, buf) > 0) {
        takeWatchReply(buf.data(), buf.size());
    } else {
        dropWatchRead();
    }
}

void BoardSession::dropWatchRead() {
    LogPortEvent(m_log, m_device.fGetPortName(), "watch read not answered");
    m_watchDone = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Register values and writes

void BoardSession::noteSent(const CommandRecord& r) {
    RegisterWriteEvent e;
    e.source = m_writeSource;
    switch (r[0]) {
    case 0x00: // a single write
        e.reg = r[1];
        e.value = r[2];
        break;
    case 0x05: // a batch's write or delay; its other steps write no register
        e.batch = true;
        if (r[1] == 0x07) {
            e.kind = RegisterWriteEvent::Kind::Delay;
            e.delayMs = r[2] << 8 | r[3];
        } else if (r[1] == 0x00) {
            e.reg = r[2];
            e.value = r[3];
        } else {
            return;
        }
        break;
    case 0x01:
        m_readStart = r[1];
        m_readCount = r[2] << 8 | r[3];
        return;
    case 0x0D: // another chip: nothing known of it
        m_known.fill(-1);
        return;
    default:
        return;
    }
    if (e.kind == RegisterWriteEvent::Kind::Write) {
        e.before = KnownValue(e.reg);
        m_known[e.reg] = e.value;
    }
    // An observer may remove itself: call a copy.
    const auto observers = m_writeObservers;
    for (const auto& [id, observer] : observers)
        observer(e);
}

void BoardSession::noteReply(const ReplyEvent& event, std::size_t received) {
    if (event.kind == ReplyEvent::Kind::RegisterValue) m_known[m_readStart] = event.bytes[0];
    if (event.kind != ReplyEvent::Kind::RegisterBlock) return;
    // Only what the board sent counts: the rest of the buffer is zero fill.
    const int n = std::min(m_readCount, static_cast<int>(received));
    for (int i = 0; i < n; ++i)
        m_known[static_cast<std::size_t>((m_readStart + i) & 0xFF)] = event.bytes[static_cast<std::size_t>(i)];
}

int BoardSession::AddWriteObserver(WriteObserver observer) {
    m_writeObservers.emplace_back(++m_nextObserver, std::move(observer));
    return m_nextObserver;
}

void BoardSession::RemoveWriteObserver(int id) {
    std::erase_if(m_writeObservers, [id](const auto& o) { return o.first == id; });
}

std::optional<std::uint8_t> BoardSession::KnownValue(std::uint8_t reg) const {
    if (m_known[reg] < 0) return std::nullopt;
    return static_cast<std::uint8_t>(m_known[reg]);
}

void BoardSession::SetBatchOwner(const void* owner, int lines) {
    const bool was = m_batchOwner != nullptr;
    m_batchOwner = owner;
    if (was == (owner != nullptr)) return;
    m_sending = owner ? SendingState{true, 0, lines} : SendingState{};
    if (m_sink) m_sink->SendingChanged(m_sending);
}

// ---------------------------------------------------------------------------------------------
// Replies

void BoardSession::Handle(const SessionWake& wake) {
    switch (wake.kind) {
    case SessionWake::Kind::Package:
        HandlePackage();
        break;
    case SessionWake::Kind::PortGone:
        portGone();
        break;
    case SessionWake::Kind::TransmitterEmpty:
        if (m_sink) m_sink->TransmitterEmpty();
        break;
    case SessionWake::Kind::PortBack:
        reopen(wake.generation, wake.name);
        break;
    }
}

void BoardSession::report(const ReplyEvent& event) {
    if (m_sink) m_sink->Reply(event);
}

void BoardSession::HandlePackage() {
    struct FinishCount {
        ReplyCounters& counters;
        ~FinishCount() { counters.finished.fetch_add(1, std::memory_order_release); }
    } finishCount{m_counters};
    std::vector<std::uint8_t> buf;
    // Each package raises one event, but the echo loop below and CmdReadReg take packages out
    // of turn; an event whose package is gone has nothing to decode.
    const std::size_t n = TakePackage(m_device, buf);
    if (n == 0) return;
    if (takeWatchReply(buf.data(), n)) return;
    m_userAwaiting = false;
    m_userTraffic = std::chrono::steady_clock::now();
    const std::uint8_t kind = expectedReply;
    const int count = m_options.registerCount ? m_options.registerCount() : 0;
    LogPackage(m_log, buf.data(), n, DescribeReply(kind, buf.data(), n, count, true));
    const ReplyEvent event = DecodeReply(kind, buf.data(), n, count);
    noteReply(event, n);
    report(event);
    if (event.kind == ReplyEvent::Kind::Consumed) {
        // The answer to this command is consumed unseen; whatever else is waiting is echoed.
        for (;;) {
            // The whole package is read for the link log; only its first byte is echoed.
            std::vector<std::uint8_t> later;
            const std::size_t m = TakePackage(m_device, later);
            if (m == 0) break;
            replyByte = later[0];
            LogPackage(m_log, later.data(), m, DescribeReply(kind, later.data(), m, 0, replyByte == 0));
            if (replyByte == 0) break;
            report(ReplyEvent{ReplyEvent::Kind::Echoed, kind, {replyByte}, 0});
            replyByte = 0;
        }
    }
    m_counters.handled.fetch_add(1, std::memory_order_release);
}

void BoardSession::ExpectAnswer(std::size_t bytes) {
    TalonComm::TCommPackage* package = m_device.Package();
    if (m_options.packageGap) bytes = 0;
    // A character: start bit, data bits, parity bit, stop bits (1.5 counted as 2).
    const unsigned bits = 2 + static_cast<unsigned>(m_device.fGetByteSize()) +
                          static_cast<unsigned>(m_device.fGetParity() != TalonComm::ptNoParity) +
                          static_cast<unsigned>(m_device.fGetStopBits() != TalonComm::sbOneStopBit);
    const std::uint64_t baud = std::max<std::uint32_t>(m_device.fGetBaudRate(), 1);
    const auto twoCharacters = std::chrono::microseconds((2 * bits * 1'000'000ULL + baud - 1) / baud);
    package->ExpectPackage(static_cast<std::uint32_t>(bytes), twoCharacters);
}

// ---------------------------------------------------------------------------------------------
// Reopening

void BoardSession::portGone() {
    LogPortEvent(m_log, m_device.fGetPortName(), "went away");
    const bool network = TalonComm::TNetLine::IsNetName(m_device.fGetPortName());
    if (m_sink)
        m_sink->ConsoleAppend(" RS232 PORT " + m_device.fGetPortName() +
                              (network ? " went away (the connection was closed)\r\n"
                                       : " went away (device closed or unplugged); press \"Refresh\" to open it "
                                         "again\r\n"));
    const auto rearm = [&] {
        if (m_device.fGetActive()) return;
        if (network)
            ArmNetworkRetry(std::chrono::seconds(1));
        else
            ArmReopen(!m_reopenedByItself);
    };
    // Let go of the vanished device now: a held descriptor keeps a USB adapter's old device
    // node alive, so the adapter plugged in again would come back under another name.
    // A device that vanished right after opening by itself is only tried again on a change in
    // its directory, so that one that opens and fails at once cannot make a loop.
    if (m_device.fGetActive()) return;
    try {
        m_device.fSetActive(false);
    } catch (const TalonComm::ETalonCommError&) {
        rearm();
        throw; // the owner shows it
    }
    rearm();
}

void BoardSession::ArmNetworkRetry(std::chrono::seconds pause) {
    stopRetry();
    const std::uint64_t generation = ++m_reopenGeneration;
    m_retryPause = pause;
    const std::string name = m_device.fGetPortName();
    if (m_sink)
        m_sink->ConsoleAppend(" RS232 PORT " + name + " waiting: trying again in " + std::to_string(pause.count()) +
                              " s\r\n");
    m_retryStop = false;
    m_retry = std::thread([this, generation, name, pause] {
        std::unique_lock<std::mutex> lock(m_retryMutex);
        if (m_retryCv.wait_for(lock, pause, [&] { return m_retryStop; })) return;
        if (m_sink) m_sink->Wake({SessionWake::Kind::PortBack, generation, name});
    });
}

void BoardSession::stopRetry() {
    {
        std::lock_guard<std::mutex> lock(m_retryMutex);
        m_retryStop = true;
    }
    m_retryCv.notify_all();
    if (m_retry.joinable()) m_retry.join();
}

void BoardSession::ArmReopen(bool checkNow) {
    const std::uint64_t generation = ++m_reopenGeneration;
    // Only the same device under the same name: never a pseudo-terminal by its number.
    m_portWatch.Arm(m_portIdentity, checkNow, [this, generation](const std::string& name) {
        if (m_sink) m_sink->Wake({SessionWake::Kind::PortBack, generation, name});
    });
}

void BoardSession::DisarmReopen() {
    ++m_reopenGeneration;
    m_portWatch.Stop();
    stopRetry();
    m_reopenedByItself = false;
}

void BoardSession::reopen(std::uint64_t generation, const std::string& name) {
    if (generation != m_reopenGeneration || m_device.fGetActive()) return;
    const bool network = TalonComm::TNetLine::IsNetName(name);
    // Under its alias when only that came back (the adapter got another node).
    if (!network && name != TalonComm::TTalonComm::DevicePath(m_device.fGetPortName())) m_device.fSetPortName(name);
    try {
        m_device.fSetActive(true);
    } catch (const TalonComm::ETalonCommError&) {
        // There but not usable yet (udev still setting its permissions, say): the next change;
        // a server not back yet: a longer pause.
        if (network)
            ArmNetworkRetry(std::min<std::chrono::seconds>(m_retryPause * 2, std::chrono::seconds(30)));
        else
            ArmReopen(false);
        return;
    }
    m_reopenedByItself = true;
    if (m_sink) m_sink->ConsoleAppend(" RS232 PORT " + m_device.fGetPortName() + " is open again\r\n");
}

// ---------------------------------------------------------------------------------------------
// The calling thread's session

BoardSession* CurrentSession() {
    return tCurrent;
}

SessionScope::SessionScope(BoardSession& session) : m_previous(tCurrent) {
    tCurrent = &session;
}

SessionScope::~SessionScope() {
    tCurrent = m_previous;
}

} // namespace evb
