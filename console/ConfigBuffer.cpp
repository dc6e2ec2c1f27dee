#include "console/ConfigBuffer.h"

#include "protocol/ConfigLines.h"

#include <algorithm>
#include <cstring>

namespace evb {

ConfigBuffer::ConfigBuffer(std::size_t capacity) : m_bytes(capacity, '\0') {}

void ConfigBuffer::clear() {
    std::fill(m_bytes.begin(), m_bytes.end(), '\0');
    m_filled = 0;
    m_overflow = false;
    m_name.clear();
}

ConfigBuffer::LoadResult ConfigBuffer::load(const std::string& path) {
    LoadResult result;
    TextLoad loaded = LoadTextFile(path, m_bytes.size());
    if (!loaded.ok) {
        result.error = loaded.error.empty() ? "cannot be read" : loaded.error;
        return result;
    }
    const std::size_t n = std::min(loaded.text.size(), m_bytes.size());
    std::memcpy(m_bytes.data(), loaded.text.data(), n);
    result.ok = true;
    result.loadedBytes = n;
    result.droppedBytes = loaded.droppedBytes + (loaded.text.size() - n);
    m_filled = std::max(m_filled, n);
    if (n == m_bytes.size()) m_overflow = result.droppedBytes > 0;
    m_name = path;
    // The text ends at the first NUL: whatever follows it is never sent.
    if (const auto nul = loaded.text.find('\0', 0); nul != std::string::npos && nul < n)
        result.nulLine =
            1 + static_cast<int>(std::count(loaded.text.begin(),
                                            loaded.text.begin() + static_cast<std::ptrdiff_t>(nul), '\n'));
    return result;
}

std::string_view ConfigBuffer::text() const {
    const auto end = std::find(m_bytes.begin(), m_bytes.end(), '\0');
    return std::string_view(m_bytes.data(), static_cast<std::size_t>(end - m_bytes.begin()));
}

ConfigTextEnd ConfigBuffer::textEnd() const {
    const std::size_t end = text().size();
    if (end < m_filled) return ConfigTextEnd::Nul;
    if (end == m_bytes.size() && m_overflow) return ConfigTextEnd::BufferFull;
    return ConfigTextEnd::Complete;
}

CheckedTextSource ConfigBuffer::loaded(const LoadResult& result) const {
    return ConfigTextSource(std::string_view(m_bytes.data(), result.ok ? result.loadedBytes : 0),
                            result.droppedBytes);
}

std::string ConfigBuffer::problemLine(const std::string& path, const LoadResult& result,
                                      std::size_t capacity) {
    if (!result.ok) return "File not loaded: " + path + " (" + result.error + ")\r\n";
    std::string lines;
    if (result.nulLine > 0)
        lines += "File holds a NUL byte in line " + std::to_string(result.nulLine) + ": " + path +
                 ": the text from there on is not used\r\n";
    if (result.droppedBytes > 0)
        lines += "File too long: " + path + ": only the first " + std::to_string(capacity) +
                 " bytes loaded, " + std::to_string(result.droppedBytes) + " bytes not loaded\r\n";
    return lines;
}

} // namespace evb
