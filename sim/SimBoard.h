#pragma once
// The simulated evaluation board. It sits on the master side of a pseudo-terminal pair and
// behaves like the board's MCU: it parses 20-byte command frames (0x3A, 18 record bytes, 0x40),
// resynchronises on garbage, keeps a register file per chip address and the board's set-up,
// answers reads and the board-information request, and acknowledges everything else with 0x00.
// It can pace its traffic to the baud rate and inject faults. Standard library and POSIX only:
// it shares no code with the program's protocol layer.
//
// Threading: Start() runs the board on a thread of its own; every public member may be called
// from any thread.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace evbsim {

struct SimOptions {
    std::uint32_t baud = 19200; // pacing rate, 10 bits per byte
    bool pace = true;           // false: bytes move as fast as the pseudo-terminal allows
};

struct ReceivedFrame {
    std::array<std::uint8_t, 18> record{};    // the bytes between the markers
    std::chrono::steady_clock::time_point at; // when the end marker arrived
};

struct SpdifState {
    std::array<std::uint8_t, 8> format{}; // record bytes 2..9 of the last S/PDIF format command
    std::uint8_t reset = 0;
    std::uint8_t txStop = 0;
};

struct BoardSnapshot {
    std::uint8_t commMode = 0; // 0 I2C, 1 SPI
    std::uint8_t chipAddress = 0x20;
    std::uint8_t mclkSource = 0;
    std::array<std::uint8_t, 3> sdp{1, 0, 1};
    SpdifState spdif;
    bool batchOpen = false;
    std::uint16_t batchDeclared = 0; // count given to the batch begin
    std::uint32_t batchLines = 0;    // lines received in the open (or last) batch
    std::uint32_t batchesCompleted = 0;
    std::uint64_t garbageBytes = 0; // bytes skipped while resynchronising
};

class SimBoard {
  public:
    explicit SimBoard(SimOptions options = {});
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // Opens a pseudo-terminal pair and starts the board. False when no pty could be had.
    bool Start();
    void Stop();
    bool Running() const;
    // The slave device the program opens, e.g. /dev/pts/7.
    std::string DevicePath() const;

    // --- inspection ---
    std::vector<ReceivedFrame> Frames() const;
    std::size_t FrameCount() const;
    void ClearFrames();
    // Waits until at least n frames have been received (or timeout). True when reached.
    bool WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until every queued reply byte has been written to the pseudo-terminal.
    bool WaitRepliesSent(std::chrono::milliseconds timeout) const;
    BoardSnapshot State() const;
    std::uint8_t Register(std::uint8_t chipAddress, std::uint8_t reg) const;
    void SetRegister(std::uint8_t chipAddress, std::uint8_t reg, std::uint8_t value);
    // A read-only (status) register keeps its value when the program writes it.
    void SetReadOnly(std::uint8_t chipAddress, std::uint8_t reg, bool readOnly);
    void SetInfoRecord(const std::array<std::uint8_t, 18>& record);
    std::uint64_t BytesSent() const;

    // --- faults ---
    void DropReplies(int count);                        // the next count replies are not sent
    void CorruptReplies(int count);                     // the next count replies have their bytes inverted
    void DelayReplies(std::chrono::milliseconds delay); // every reply waits this long first (0: off)
    void WithholdReplies(bool on);                      // no replies at all while on
    void TruncateReplies(int count, std::size_t keepBytes);       // next count replies cut to keepBytes
    // The next count replies are followed by bytes: with the reply (after 0) or after a pause.
    void TrailReplies(int count, const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds after);
    void SendUnsolicited(const std::vector<std::uint8_t>& bytes); // bytes out of turn, now
    void Babble(std::size_t bytes, std::uint32_t seed = 1);       // random bytes at full speed
    void StallReading(bool on); // the board stops reading the line (its buffer fills)
    void HangUp();              // closes the master side: the slave sees a hang-up
    bool Reconnect();           // new master on a pty published at the same link path
    // Publishes the slave path as a symlink (like evbsim --link), kept across Reconnect.
    bool Link(const std::string& linkPath);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace evbsim
