#pragma once
// A recording of the register writes that went out to the board, in order: single writes, and
// the writes and delays of every batch (presets, configuration sends, restores). It observes
// the board session, which every write passes, and saves as configuration files that load and
// send as any other:
//
//   :W1A05@ ADC_VOL_L = 0x05 (14:02:11.532, Write Register)
//   :D012C@ pause of 300 ms (14:02:11.640, Preset A1)
//
// CR LF line ends. A recording longer than one configuration buffer (512 lines, 4,096 bytes
// once CR LF is folded) is saved as numbered files, each of which fits one buffer.
//
// Threading: the session's owner thread.

#include "protocol/BoardSession.h"
#include "protocol/ConfigLines.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace evb {

class WriteRecording {
  public:
    using Clock = std::chrono::system_clock;

    WriteRecording() = default;
    WriteRecording(const WriteRecording&) = delete;
    WriteRecording& operator=(const WriteRecording&) = delete;
    ~WriteRecording() { Stop(); }

    // Forgets what was recorded and keeps every write of the session from now on, named with
    // its register map (linkNames) where it has one. The session must outlive the recording
    // or its Stop().
    void Start(BoardSession& session);
    void Stop();
    bool Recording() const { return m_session != nullptr; }

    void Add(const RegisterWriteEvent& event, Clock::time_point when, const std::string& name = {});
    std::size_t Size() const { return m_entries.size(); } // writes and delays
    std::size_t Writes() const { return m_writes; }
    // What the recording holds in memory.
    std::size_t MemoryBytes() const;

    struct SaveOptions {
        bool keepPauses = false;       // pauses of more than 50 ms between writes as D lines
        int lineLimit = kConfigLineLimit;
        std::size_t byteLimit = kConfigBufferSize - 1; // folded bytes, the buffer's end NUL kept free
    };
    // The text of each file, in order.
    std::vector<std::string> Texts(const SaveOptions& options) const;
    // path for one file; "rec-1.txt", "rec-2.txt", ... beside it for more.
    static std::vector<std::string> FileNames(const std::string& path, std::size_t count);

  private:
    struct Entry {
        std::int64_t ms = 0; // since the epoch
        std::uint16_t delay = 0;
        std::uint16_t source = 0; // into m_strings
        std::uint16_t name = 0;   // into m_strings; 0 ""
        std::uint8_t reg = 0, value = 0;
        bool isDelay = false;
    };
    std::uint16_t intern(const std::string& text);

    BoardSession* m_session = nullptr;
    int m_observer = 0;
    std::vector<Entry> m_entries;
    std::size_t m_writes = 0;
    std::vector<std::string> m_strings{""};
    std::map<std::string, std::uint16_t, std::less<>> m_index{{"", 0}};
};

} // namespace evb
