#pragma once
// The codec's PLL set-up: the integer part N and the 24-bit fraction K that the PLL needs for
// a master clock and a sample rate typed in whole MHz and kHz, and the register writes that
// program them. Plain arithmetic: nothing here sends.

#include "protocol/BoardState.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace evb {

struct PllValues {
    float mclk = 0.0f; // Hz at the PLL's input: half the entered MCLK from 20 MHz up
    float lrck = 0.0f; // Hz
    // false: the MCLK gives no ratio (0 MHz); N and K are then left at 0.
    bool valid = false;
    std::uint8_t n = 0;              // integer part of the ratio, modulo 256
    std::array<std::uint8_t, 3> k{}; // fraction, bits 23..16, 15..8, 7..0
};

// mclkText in MHz and lrckText in kHz, each converted as every typed number is (a text that is
// no number counts as 128).
PllValues ComputePll(std::string_view mclkText, std::string_view lrckText);

struct PllRegisterWrite {
    std::uint8_t reg;
    std::uint8_t value;
};

// The seven writes, in order, that program N and K: the PLL is held while 0x03 .. 0x07 change
// (0x03 carries the supply range in bits 3..2) and released by the last one.
std::array<PllRegisterWrite, 7> PllRegisterWrites(const PllValues& pll, SupplyRange supply);

} // namespace evb
