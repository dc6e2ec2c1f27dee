#pragma once
// What the fuzz targets share: the input split into the typed pieces a target needs (reading
// past the end yields zeros and empty spans, so every input, however short, is a valid case),
// the check of a property, and a serial device that is never opened.

#include "serial/TRkCommDevice.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace evbfuzz {

using Bytes = std::vector<std::uint8_t>;

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint16_t u16() {
        const unsigned hi = byte();
        return static_cast<std::uint16_t>(hi << 8 | byte());
    }
    std::uint32_t u32() {
        const std::uint32_t hi = u16();
        return hi << 16 | u16();
    }
    bool flag() { return (byte() & 1) != 0; }
    // Up to maxLen bytes, the length taken from the input first.
    std::string_view chunk(std::size_t maxLen) {
        return take((maxLen < 256 ? byte() : u16()) % (maxLen + 1));
    }
    std::string_view rest() { return take(m_size - m_pos); }

  private:
    std::string_view take(std::size_t n) {
        const std::string_view v(reinterpret_cast<const char*>(m_data + m_pos), std::min(n, m_size - m_pos));
        m_pos += v.size();
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

// Lives for the whole run and is never opened: its threads stay idle.
inline TalonComm::TRkCommDevice& closedDevice() {
    static auto* d = new TalonComm::TRkCommDevice;
    return *d;
}

} // namespace evbfuzz
