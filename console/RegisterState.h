#pragma once
// The register console's program-wide state: what the program last wrote to or read from the
// codec's registers, and how the current chip profile sizes reads and the grid.
//
// Threading: UI thread only. The reply handler runs there too (package events are handed over
// to the UI thread before they are decoded), so nothing here needs a lock or an atomic.

#include <array>
#include <cstdint>

namespace evb {

constexpr std::size_t kShadowSize = 255; // registers 0x00 .. 0xFE; 0xFF is shown, never stored

struct RegisterState {
    std::array<std::uint8_t, kShadowSize> Shadow{};
    // Registers a read-all reply carries and the grid shows; 255 stands for all 256.
    std::uint8_t RegCount = 0;
    // Largest address single reads and writes accept; also the count a read-all asks for.
    std::uint8_t HighestAddress = 0;
    // 1: the reply handler moves the progress bar while it copies a read-all reply.
    std::uint8_t ReadProgress = 0;
    // Last preset pressed in the maker's profile: 1..10 A1..A10, 11..18 B1..B8, 0 none yet.
    int LastPresetButton = 0;

    // Stores v as the shadow of register a; register 0xFF has no shadow entry.
    void store(std::uint8_t a, std::uint8_t v) {
        if (a < kShadowSize) Shadow[a] = v;
    }
};

extern RegisterState gRegs;

} // namespace evb
