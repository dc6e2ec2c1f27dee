#pragma once
// The link log: what crossed the serial link, newest last, in a ring of bounded size. Each
// entry carries a millisecond timestamp, its direction (a frame out, a package in, or an event
// of the port), the bytes and what they meant to the program.
//
// Threading: written and read on one thread, the one that sends frames and handles replies
// (the UI thread in the program, the main thread in evbctl). The serial layer's threads never
// touch it, so logging cannot hold them up.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace evb {

enum class LinkDirection { Tx, Rx, Event };

struct LinkEntry {
    std::uint64_t number = 0; // 1 for the first entry ever logged
    std::int64_t timeMs = 0;  // milliseconds since the epoch
    LinkDirection direction = LinkDirection::Event;
    std::vector<std::uint8_t> bytes; // at most LinkLog::kMaxBytes
    std::string meaning;
};

class LinkLog {
  public:
    static constexpr std::size_t kDefaultCapacity = 20000;
    // A package handed to the reply handler holds at most 257 bytes.
    static constexpr std::size_t kMaxBytes = 257;

    explicit LinkLog(std::size_t capacity = kDefaultCapacity);

    void append(LinkDirection direction, const std::uint8_t* data, std::size_t n, std::string meaning);
    void clear();

    std::size_t size() const { return m_count; }
    std::size_t capacity() const { return m_capacity; }
    // 0 is the oldest entry kept.
    const LinkEntry& at(std::size_t i) const;
    // Entries logged since start, including those the ring has dropped or clear() removed.
    std::uint64_t appended() const { return m_next - 1; }
    // The entry with that number while the ring still holds it, else null.
    const LinkEntry* find(std::uint64_t number) const;

    // Called after every append, with the new entry. Returns an id for removeObserver.
    int addObserver(std::function<void(const LinkEntry&)> observer);
    void removeObserver(int id);

    // Off: append does nothing (benchmarks compare the cost of logging).
    void setEnabled(bool on) { m_enabled = on; }
    bool enabled() const { return m_enabled; }

    // Replaces the wall clock (tests).
    void setClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

  private:
    // Grows up to the capacity as entries come (a short run never touches the whole ring);
    // entries stay where they are while it grows.
    std::deque<LinkEntry> m_ring;
    std::size_t m_capacity;
    std::size_t m_head = 0; // slot of the oldest entry
    std::size_t m_count = 0;
    std::uint64_t m_next = 1;
    std::function<std::int64_t()> m_clock;
    std::vector<std::pair<int, std::function<void(const LinkEntry&)>>> m_observers;
    int m_nextObserver = 1;
    bool m_enabled = true;
};

// The current session's link log (BoardSession.h); throws std::logic_error without one.
LinkLog& TheLinkLog();

// "HH:MM:SS.mmm" in local time.
std::string FormatLinkTime(std::int64_t timeMs);
// Upper-case hex pairs separated by single spaces.
std::string FormatLinkBytes(const std::vector<std::uint8_t>& bytes);
// "TX", "RX" or "--".
const char* LinkDirectionName(LinkDirection direction);
// One line without line end: time, direction, bytes, two spaces, meaning.
std::string FormatLinkEntry(const LinkEntry& entry);

} // namespace evb
