#include "protocol/LinkLog.h"

#include "protocol/BoardSession.h"
#include "protocol/TextConv.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace evb {

namespace {

std::int64_t wallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

LinkLog::LinkLog(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

void LinkLog::append(LinkDirection direction, const std::uint8_t* data, std::size_t n, std::string meaning) {
    if (!m_enabled) return;
    std::size_t slot;
    if (m_count < m_capacity) {
        slot = (m_head + m_count) % m_capacity;
        ++m_count;
    } else {
        slot = m_head;
        m_head = (m_head + 1) % m_capacity;
    }
    if (slot == m_ring.size()) m_ring.emplace_back();
    LinkEntry& e = m_ring[slot];
    e.number = m_next++;
    e.timeMs = m_clock ? m_clock() : wallClockMs();
    e.direction = direction;
    // The slot's buffer is reused, so a full ring allocates nothing for same-sized entries.
    e.bytes.assign(data, data + std::min(n, kMaxBytes));
    e.meaning = std::move(meaning);
    for (const auto& [id, observer] : m_observers)
        observer(e);
}

void LinkLog::clear() {
    m_head = 0;
    m_count = 0;
}

const LinkEntry& LinkLog::at(std::size_t i) const {
    return m_ring[(m_head + i) % m_capacity];
}

const LinkEntry* LinkLog::find(std::uint64_t number) const {
    const std::uint64_t first = m_next - m_count; // number of the oldest entry kept
    if (number < first || number >= m_next) return nullptr;
    return &at(static_cast<std::size_t>(number - first));
}

int LinkLog::addObserver(std::function<void(const LinkEntry&)> observer) {
    const int id = m_nextObserver++;
    m_observers.emplace_back(id, std::move(observer));
    return id;
}

void LinkLog::removeObserver(int id) {
    std::erase_if(m_observers, [id](const auto& o) { return o.first == id; });
}

LinkLog& TheLinkLog() {
    BoardSession* session = CurrentSession();
    if (!session) throw std::logic_error("no board session on this thread");
    return session->Log();
}

std::string FormatLinkTime(std::int64_t timeMs) {
    const std::time_t seconds = static_cast<std::time_t>(timeMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(timeMs % 1000));
    return buf;
}

std::string FormatLinkBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) text += ' ';
        text += Hex2(bytes[i]);
    }
    return text;
}

const char* LinkDirectionName(LinkDirection direction) {
    switch (direction) {
    case LinkDirection::Tx:
        return "TX";
    case LinkDirection::Rx:
        return "RX";
    case LinkDirection::Event:
        break;
    }
    return "--";
}

std::string FormatLinkEntry(const LinkEntry& entry) {
    std::string line = FormatLinkTime(entry.timeMs) + " " + LinkDirectionName(entry.direction);
    if (!entry.bytes.empty()) line += " " + FormatLinkBytes(entry.bytes);
    line += "  " + entry.meaning;
    return line;
}

} // namespace evb
