#include "protocol/WriteRecording.h"

#include "protocol/RegisterMap.h"
#include "protocol/TextConv.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace evb {

namespace {

constexpr std::int64_t kShortestPauseMs = 50;

// "14:02:11.532", local time.
std::string timeOfDay(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    char milli[8];
    std::snprintf(milli, sizeof milli, ".%03d", static_cast<int>(ms % 1000));
    return std::string(text) + milli;
}

std::string delayLine(unsigned ms, const std::string& why) {
    return ":D" + Hex2(ms >> 8) + Hex2(ms & 0xFF) + "@ pause of " + std::to_string(ms) + " ms" + why;
}

} // namespace

void WriteRecording::Start(BoardSession& session) {
    Stop();
    m_entries.clear();
    m_writes = 0;
    m_session = &session;
    m_observer = session.AddWriteObserver([this](const RegisterWriteEvent& e) {
        const RegisterMap* map = m_session->linkNames.get();
        Add(e, Clock::now(), map && e.kind == RegisterWriteEvent::Kind::Write ? map->nameOf(e.reg) : std::string());
    });
}

void WriteRecording::Stop() {
    if (m_session) m_session->RemoveWriteObserver(m_observer);
    m_session = nullptr;
}

std::uint16_t WriteRecording::intern(const std::string& text) {
    if (const auto it = m_index.find(text); it != m_index.end()) return it->second;
    const auto id = static_cast<std::uint16_t>(m_strings.size());
    m_strings.push_back(text);
    m_index.emplace(text, id);
    return id;
}

void WriteRecording::Add(const RegisterWriteEvent& event, Clock::time_point when, const std::string& name) {
    Entry e;
    e.ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    e.source = intern(std::string(event.source));
    e.name = intern(name);
    e.isDelay = event.kind == RegisterWriteEvent::Kind::Delay;
    e.delay = static_cast<std::uint16_t>(event.delayMs);
    e.reg = event.reg;
    e.value = event.value;
    m_entries.push_back(e);
    if (!e.isDelay) ++m_writes;
}

std::size_t WriteRecording::MemoryBytes() const {
    std::size_t bytes = sizeof *this + m_entries.capacity() * sizeof(Entry);
    for (const std::string& s : m_strings)
        bytes += 2 * (sizeof s + s.capacity()) + 4 * sizeof(void*); // the table's and the index's copy
    return bytes;
}

std::vector<std::string> WriteRecording::Texts(const SaveOptions& options) const {
    std::vector<std::string> files(1);
    int lines = 0;
    std::size_t bytes = 0;
    auto put = [&](const std::string& line) {
        if (lines == options.lineLimit || bytes + line.size() + 1 > options.byteLimit) {
            files.emplace_back();
            lines = 0;
            bytes = 0;
        }
        files.back() += line + "\r\n";
        ++lines;
        bytes += line.size() + 1; // CR LF is read as LF
    };
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        const std::string& source = m_strings[e.source];
        const std::string when = " (" + timeOfDay(e.ms) + (source.empty() ? "" : ", " + source) + ")";
        if (options.keepPauses && i > 0) {
            // A long pause takes several lines of at most 0xFFFF ms each.
            for (std::int64_t pause = e.ms - m_entries[i - 1].ms; pause > kShortestPauseMs; pause -= 0xFFFF)
                put(delayLine(static_cast<unsigned>(std::min<std::int64_t>(pause, 0xFFFF)), " between writes"));
        }
        if (e.isDelay) {
            put(delayLine(e.delay, when));
            continue;
        }
        const std::string& name = m_strings[e.name];
        put(":W" + Hex2(e.reg) + Hex2(e.value) + "@ " + (name.empty() ? "Reg0x" + Hex2(e.reg) : name) + " = 0x" +
            Hex2(e.value) + when);
    }
    if (m_entries.empty()) files.clear();
    return files;
}

std::vector<std::string> WriteRecording::FileNames(const std::string& path, std::size_t count) {
    if (count <= 1) return {path};
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) dot = path.size();
    std::vector<std::string> names;
    for (std::size_t i = 1; i <= count; ++i)
        names.push_back(path.substr(0, dot) + "-" + std::to_string(i) + path.substr(dot));
    return names;
}

} // namespace evb
