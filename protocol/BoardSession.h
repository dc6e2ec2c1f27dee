#pragma once
// One board on one serial line: the serial device and its event callbacks, the transmitter's
// state (reply kind, ready flag, frame counter, send timeout, batch owner), the link log, the
// board's set-up as last sent, the reading of replies into typed events, the reopening of a
// port that went away, and the sending state of a configuration batch. Everything it has to
// tell goes to one sink.
//
// Threading: a session belongs to the thread that builds it (its owner: the UI thread in the
// program, the calling thread in evbctl). The serial layer's worker threads and the port watch
// reach it only through ISessionSink::Wake; the owner answers each wake with Handle() on its
// own thread, in the order of the wakes. Every other call is made on the owner's thread, and
// every other sink call comes from it.
//
// The program-wide names of the transmit path (ExpectedReply, BoardReady, ReplyByte,
// SendBoardCommand, the Cmd* builders, TheLinkLog, Board) act on the calling thread's current
// session: see SessionScope.

#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "protocol/LinkLog.h"
#include "protocol/SendStatus.h"
#include "serial/TPortWatch.h"
#include "serial/TRkCommDevice.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace TalonComm {
class TLineIo;
}

namespace evb {

class RegisterMap;

// What a package means, read by the reply kind of the last command sent.
struct ReplyEvent {
    enum class Kind {
        RegisterValue, // bytes[0]: the value of the register the console asked for
        RegisterBlock, // bytes: the whole package buffer (257 bytes, zero-filled); count registers
        BoardInfo,     // bytes: the 18 bytes of the board information record
        Consumed,      // the package answers a command whose reply is not read
        Echoed         // bytes[0]: the first byte of a later package, for the console
    };
    Kind kind = Kind::Consumed;
    std::uint8_t replyKind = 0; // ExpectedReply when the package was read
    std::vector<std::uint8_t> bytes;
    int count = 0; // RegisterBlock: the registers the block fills
};

// A reply buffer: at most the first 257 bytes of a package are decoded.
constexpr std::size_t kReplyBufferSize = 257;

// Takes the oldest waiting package whole (up to the device's package size) into buf, resized to
// its length; 0 when none waits. The reply handler decodes its first kReplyBufferSize bytes;
// the link log and the acknowledgement counts see all of it.
std::size_t TakePackage(TalonComm::TRkCustomCommDevice& device, std::vector<std::uint8_t>& buf);

// The event a package of n bytes (at most kReplyBufferSize) makes under reply kind `kind`;
// registerCount is the chip profile's count that a block reply fills. Kinds that are not read
// give Consumed.
ReplyEvent DecodeReply(std::uint8_t kind, const std::uint8_t* package, std::size_t n, int registerCount);

// Idle (lines 0), or sending line `line` of `lines` of a configuration batch.
struct SendingState {
    bool active = false;
    int line = 0;
    int lines = 0;
};

// Work a worker thread hands to the session's owner.
struct SessionWake {
    enum class Kind {
        Package,          // a package is complete (the package timer thread)
        PortGone,         // the device went away under the port (the read thread)
        TransmitterEmpty, // every byte written has left the queues (the read thread)
        PortBack          // the port that went away exists again (the port watch thread)
    };
    Kind kind = Kind::Package;
    std::uint64_t generation = 0; // PortBack: the watch that saw it
    std::string name;             // PortBack: the name that appeared
};

// Counts of package events on their way to the owner's thread (tests and benchmarks watch them).
struct ReplyCounters {
    std::atomic<int> queued{0};   // package events handed over (counted on the worker thread)
    std::atomic<int> finished{0}; // package events handled, whether or not a package was waiting
    std::atomic<int> handled{0};  // packages decoded
};

// A register write (or a batch's delay) that went out to the board, as the session saw it.
struct RegisterWriteEvent {
    enum class Kind { Write, Delay };
    Kind kind = Kind::Write;
    std::uint8_t reg = 0;
    std::uint8_t value = 0;
    // What the register held before, as known from the last read or write; none when never known.
    std::optional<std::uint8_t> before;
    int delayMs = 0;        // Delay: the pause the batch asks of the board
    bool batch = false;     // sent inside a configuration batch
    std::string_view source; // the action that sent it ("Write Register", "Preset A1", ...)
};

class ISessionSink : public IUserReport {
  public:
    // Any thread. The owner calls BoardSession::Handle(wake) on its own thread, in this order.
    virtual void Wake(const SessionWake& wake) = 0;
    // Owner's thread: a package read into an event (after it went into the link log).
    virtual void Reply(const ReplyEvent&) {}
    // Owner's thread: a configuration batch began or ended.
    virtual void SendingChanged(const SendingState&) {}
    // Owner's thread: the transmitter's queues are empty (a batch paces its lines on this).
    virtual void TransmitterEmpty() {}
};

class BoardSession {
  public:
    struct Options {
        // How the line is made: null for the system calls; tests put their own stand-ins here.
        // A pseudo-terminal or a network port is paced to its baud rate around it by the
        // serial layer. Must outlive the session.
        TalonComm::TLineIo* line = nullptr;
        // Where the persistent names of USB serial devices live, and sysfs (what a device is,
        // to reopen only the same one).
        std::string byIdDir = "/dev/serial/by-id";
        std::string sysRoot = "/sys";
        // False for a session that never reopens its port by itself (evbctl): the device's
        // identity, which only the reopen uses, is then not looked up at every opening.
        bool reopens = true;
        // True: an answer ends only after the package interval of silence, as in the windows,
        // also when its length is known (ExpectAnswer does nothing).
        bool packageGap = false;
        // The register count a block reply fills (the chip profile's); 0 when not given.
        std::function<int()> registerCount;
    };

    explicit BoardSession(ISessionSink* sink, Options options);
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;
    // Closes the port and ends the watch; no wake is raised afterwards.
    ~BoardSession();

    TalonComm::TRkCommDevice& Device() { return m_device; }
    ISessionSink* Sink() const { return m_sink; }
    LinkLog& Log() { return m_log; }
    BoardState& Board() { return m_board; }
    ReplyCounters& Counters() { return m_counters; }
    // A new line takes effect at once while the port is closed, else when it closes.
    void SetLine(TalonComm::TLineIo* line);

    // --- transmitter ---
    std::uint8_t boardReady = 255;  // 0: every frame is dropped
    std::uint8_t expectedReply = 0; // reply kind of the last command; 255 not sent, 254 sending
    std::uint8_t replyByte = 0;     // single reply bytes
    // The register map that names registers in the link log's frame meanings (none: numbers only).
    std::shared_ptr<const RegisterMap> linkNames;
    // How long a send waits for room in the transmit queues.
    std::chrono::milliseconds sendTimeout{2000};
    std::uint64_t FramesSent() const { return m_framesSent; }
    SendStatus Send(const CommandRecord& record);
    // Called before a command whose answer has bytes bytes (1 for a register or an
    // acknowledgement, N for a block, 18 for the board information): its package is complete
    // once they are in and the line was then quiet for two character times, not after the
    // package interval. What was received before becomes a package of its own, so it is never
    // taken for the answer. 0: no answer known (the interval alone).
    void ExpectAnswer(std::size_t bytes);

    // --- register values and writes ---
    // Every write frame that was sent (single writes and a batch's writes and delays) is told
    // to each observer, in order. Observers are called on the owner's thread, inside Send.
    using WriteObserver = std::function<void(const RegisterWriteEvent&)>;
    int AddWriteObserver(WriteObserver observer);
    void RemoveWriteObserver(int id);
    // The action the following writes belong to, told to the observers with each.
    void SetWriteSource(std::string source) { m_writeSource = std::move(source); }
    const std::string& WriteSource() const { return m_writeSource; }
    // A register's value as last read or written on this link; none before that, and none
    // again after the chip address changed or the port opened anew.
    std::optional<std::uint8_t> KnownValue(std::uint8_t reg) const;

    // --- reads on behalf of a register watch ---
    // A watch polls between the user's commands, never among them: its read goes out only while
    // the port is open, no batch is open, and the user's last command has had its answer (or
    // kUserReplyWait passed) with the line quiet for a package gap since. Its answer goes to
    // `done`, not to the sink; ExpectedReply stays as the user's last command left it. A command
    // sent while a watch read awaits its answer first waits for that answer (up to
    // kWatchReplyWait), so the two answers never run into one package.
    static constexpr std::chrono::milliseconds kUserReplyWait{500};
    static constexpr std::chrono::milliseconds kQuietGap{100};
    static constexpr std::chrono::milliseconds kWatchReplyWait{500};
    using WatchReply = std::function<void(const std::vector<std::uint8_t>& values)>;
    bool WatchReadAllowed() const;
    // count registers from start (1..256); false when not sent (not allowed, or the frame failed).
    bool WatchRead(std::uint8_t start, int count, WatchReply done);
    bool WatchReadPending() const { return static_cast<bool>(m_watchDone); }

    // --- batch and sending state ---
    // While a batch is open (owner not null) every frame is suppressed, as with BoardReady 0,
    // except those its owner sends inside a BatchOwnerTurn. Opening and closing it changes the
    // sending state, which the sink hears.
    void SetBatchOwner(const void* owner, int lines = 0);
    const void* BatchOwner() const { return m_batchOwner; }
    void SetSendingLine(int line) { m_sending.line = line; }
    const SendingState& Sending() const { return m_sending; }
    bool OwnerSending() const { return m_ownerSending; }
    void SetOwnerSending(bool on) { m_ownerSending = on; }

    // --- the owner's side of the wakes ---
    void Handle(const SessionWake& wake);
    // Reads every waiting package of one package event and reports what it meant.
    void HandlePackage();

    // --- reopening a port that went away ---
    // Watches for the port's device to come back (checkNow: one that is there counts).
    void ArmReopen(bool checkNow);
    // Ends the watch: the user chose a port.
    void DisarmReopen();
    // A network port has no device to watch: it is tried again after pause, each failure
    // doubling the pause up to 30 s. Only a timer thread runs, and only while the port is closed.
    void ArmNetworkRetry(std::chrono::seconds pause);

  private:
    void onComm(int notifyType);
    void portGone();
    void reopen(std::uint64_t generation, const std::string& name);
    void report(const ReplyEvent& event);
    void noteSent(const CommandRecord& record);
    SendStatus sendFrame(const CommandRecord& record);
    // A watch read's answer: true when the package was the watch's.
    bool takeWatchReply(const std::uint8_t* package, std::size_t n);
    void finishWatchRead(); // waits for the pending watch answer (the user's command goes next)
    void dropWatchRead();
    void noteReply(const ReplyEvent& event, std::size_t received);

    ISessionSink* m_sink;
    Options m_options;
    LinkLog m_log;
    BoardState m_board;
    ReplyCounters m_counters;
    std::uint64_t m_framesSent = 0;
    CommandFrame m_transmitBuffer{};
    const void* m_batchOwner = nullptr;
    bool m_ownerSending = false;
    SendingState m_sending;
    std::array<std::int16_t, 256> m_known; // -1: not known
    std::uint8_t m_readStart = 0;          // the register the last read asked for first
    int m_readCount = 0;                   // and how many
    std::vector<std::pair<int, WriteObserver>> m_writeObservers;
    int m_nextObserver = 0;
    std::string m_writeSource;
    WatchReply m_watchDone;                 // the pending watch read's, empty when none
    std::uint8_t m_watchStart = 0;
    int m_watchCount = 0;
    std::chrono::steady_clock::time_point m_watchSent{};
    bool m_userAwaiting = false;            // the user's last command has not had its answer yet
    std::chrono::steady_clock::time_point m_userTraffic{}; // the user's last frame or answer
    int m_packagesSeen = 0;                 // Counters().queued as last taken by finishWatchRead
    std::mutex m_packageMutex;
    std::condition_variable m_packageCv;    // a package was closed (the package timer thread)
    TalonComm::TPortWatch m_portWatch;
    std::uint64_t m_reopenGeneration = 0; // a watch's answer for an older one is dropped
    TalonComm::TDeviceIdentity m_portIdentity; // what the open port's device is
    bool m_reopenedByItself = false;      // the port's last opening was automatic
    // The timer of ArmNetworkRetry: sleeps the pause (ended early by stopRetry), then wakes the
    // owner as the port watch does.
    void stopRetry();
    std::chrono::seconds m_retryPause{1};
    std::thread m_retry;
    std::mutex m_retryMutex;
    std::condition_variable m_retryCv;
    bool m_retryStop = false;
    std::thread::id m_owner;
    TalonComm::TRkCommDevice m_device;    // last: its threads stop before the members above go
};

// The calling thread's current session, or null. The program's UI thread has the main
// window's; each evbctl run has its own, on its own thread.
BoardSession* CurrentSession();

// Makes a session the calling thread's current one for the scope's lifetime.
class SessionScope {
  public:
    explicit SessionScope(BoardSession& session);
    ~SessionScope();
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

  private:
    BoardSession* m_previous;
};

} // namespace evb
