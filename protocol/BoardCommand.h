#pragma once
// The board command frame and the transmit path. Every action on the board ends here in one
// 20-byte frame: 0x3A, the 18-byte command record, 0x40. No escaping, no checksum.
//
// Threading: everything in this header acts on the calling thread's current board session and
// is used on that session's thread (the UI thread in the program, the run's thread in evbctl).
// The reply handler reads ExpectedReply on that same thread, so it never sees the transient
// values of a send in progress.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace TalonComm {
class TRkCustomCommDevice;
}

namespace evb {

constexpr std::size_t kRecordSize = 18;
constexpr std::size_t kFrameSize = 20;
constexpr std::uint8_t kFrameStart = 0x3A;
constexpr std::uint8_t kFrameEnd = 0x40;

using CommandRecord = std::array<std::uint8_t, kRecordSize>;
using CommandFrame = std::array<std::uint8_t, kFrameSize>;

// The transmitter's three program-wide bytes. Each acts on the calling thread's current
// board session (BoardSession.h), which holds the byte; with no session a read gives the start
// value and a store is dropped. They read and assign as plain bytes.
enum class SessionByteName { BoardReady, ExpectedReply, ReplyByte };
class SessionByte {
  public:
    constexpr explicit SessionByte(SessionByteName name) : m_name(name) {}
    operator std::uint8_t() const;
    const SessionByte& operator=(std::uint8_t value) const;
    SessionByte(const SessionByte&) = delete;
    SessionByte& operator=(const SessionByte&) = delete;

  private:
    SessionByteName m_name;
};

// 0 while the main window initialises or pre-selects controls: nothing is sent. 255 otherwise.
inline constexpr SessionByte BoardReady{SessionByteName::BoardReady};
// Reply kind of the last command sent; 255 after a failed send, 254 while a frame is written.
inline constexpr SessionByte ExpectedReply{SessionByteName::ExpectedReply};
// One-byte buffer for single reply bytes.
inline constexpr SessionByte ReplyByte{SessionByteName::ReplyByte};

// How the transmit path and the other protocol-level code tell the user something. The GUI
// implements it with the console pane and the warning window, evbctl with its output.
class IUserReport {
  public:
    virtual ~IUserReport() = default;
    // Appends text to the console pane; lines carry their own "\r\n". UTF-8.
    virtual void ConsoleAppend(const std::string& text) = 0;
    // Fills the warning window's two lines and shows it (non-modal).
    virtual void ShowWarning(const std::string& line1, const std::string& line2) = 0;
};

// The current session's device and sink (null without a session).
TalonComm::TRkCustomCommDevice* BoardDevice();
IUserReport* UserReport();

// How long a send waits for room in the transmit queues before it reports the frame as not
// sent. A frame is never split or dropped in part.
std::chrono::milliseconds SendTimeout();

CommandFrame MakeFrame(const CommandRecord& record);

// false: the frame was handed to the current session's device; true: it was not sent (no
// session, port not active, BoardReady 0, or no room within the send timeout).
bool SendBoardCommand(const CommandRecord& record);

// While a batch is open (owner not null) every frame is suppressed, as with BoardReady 0,
// except those its owner sends inside a BatchOwnerTurn. That keeps commands of other windows
// out of a configuration send that runs from events. Opening a batch of `lines` lines makes
// the session's sending state "line 0 of lines"; closing it makes it idle.
void SetBatchOwner(const void* owner, int lines = 0);
const void* BatchOwner();
class BatchOwnerTurn {
  public:
    BatchOwnerTurn();
    ~BatchOwnerTurn();
    BatchOwnerTurn(const BatchOwnerTurn&) = delete;
    BatchOwnerTurn& operator=(const BatchOwnerTurn&) = delete;

  private:
    bool m_was;
};

// Frames the current session handed to its device (for tests and statistics).
std::uint64_t FramesSent();

} // namespace evb
