#pragma once
// Splits a fuzzer's input into the typed pieces a target needs. Reading past the end yields
// zeros and empty spans, so every input, however short, is a valid case.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace evbfuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    std::size_t remaining() const { return m_size - m_pos; }

    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint16_t u16() {
        const std::uint16_t hi = byte();
        return static_cast<std::uint16_t>(hi << 8 | byte());
    }
    bool flag() { return (byte() & 1) != 0; }

    // Up to maxLen bytes, the length taken from the input first.
    std::string_view chunk(std::size_t maxLen) {
        const std::size_t want = maxLen < 256 ? byte() % (maxLen + 1) : u16() % (maxLen + 1);
        return take(want);
    }
    std::string_view rest() { return take(remaining()); }

  private:
    std::string_view take(std::size_t n) {
        if (n > remaining()) n = remaining();
        const std::string_view v(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return v;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A broken property is a finding like a crash: report it and stop, so the fuzzer keeps the input.
inline void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

} // namespace evbfuzz
