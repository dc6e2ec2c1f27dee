#pragma once
// The board command frame and the transmit path. Every action on the board ends here in one
// 20-byte frame: 0x3A, the 18-byte command record, 0x40. No escaping, no checksum.
//
// Threading: everything in this header is used from one thread (the UI thread in the
// program, the main thread in evbctl). The reply handler reads ExpectedReply on that same
// thread, so it never sees the transient values of a send in progress.

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

// 0 while the main window initialises or pre-selects controls: nothing is sent. 255 otherwise.
extern std::uint8_t BoardReady;
// Reply kind of the last command sent; 255 after a failed send, 254 while a frame is written.
extern std::uint8_t ExpectedReply;
// One-byte buffer for single reply bytes.
extern std::uint8_t ReplyByte;

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

// The device frames are written to, and the report sink. Both may be null (then nothing is
// sent / nothing is reported). Not owned.
void SetBoardDevice(TalonComm::TRkCustomCommDevice* device);
TalonComm::TRkCustomCommDevice* BoardDevice();
void SetUserReport(IUserReport* report);
IUserReport* UserReport();

// How long a send waits for room in the transmit queues before it reports the frame as not
// sent. A frame is never split or dropped in part.
void SetSendTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds SendTimeout();

CommandFrame MakeFrame(const CommandRecord& record);

// false: the frame was handed to the serial device; true: it was not sent (port not active,
// BoardReady 0, or no room within the send timeout).
bool SendBoardCommand(const CommandRecord& record);

// While a batch is open (owner not null) every frame is suppressed, as with BoardReady 0,
// except those its owner sends inside a BatchOwnerTurn. That keeps commands of other windows
// out of a configuration send that runs from events.
void SetBatchOwner(const void* owner);
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

// Frames handed to the device since start (for tests and statistics).
std::uint64_t FramesSent();

} // namespace evb
