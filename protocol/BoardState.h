#pragma once
// The board's set-up as the program last sent it, held by the board session; read and written
// by the windows on the UI thread only. Start-up and "Refresh" set it again.

#include <array>
#include <cstdint>

namespace evb {

struct SpdifSettings {
    std::uint8_t selector = 0;
    std::uint8_t reset = 0;
    std::uint8_t stop = 0;
    std::uint8_t rx_mode = 0;
    std::uint8_t rx_format = 1;
    std::uint8_t rx_resolution = 0x10;
    std::uint8_t rx_mclk_ratio = 1;
    std::uint8_t rx_sclk_ratio = 0x40;
    std::uint8_t tx_mode = 1;
    std::uint8_t tx_format = 1;
    std::uint8_t tx_resolution = 0x10;
    std::uint32_t tx_mclk_ratio = 1;
    std::uint32_t tx_sclk_ratio = 0x40;
};

enum class SupplyRange : std::uint8_t { Dvdd2V0 = 0, Dvdd2V5 = 1, Dvdd3V3 = 2 };

struct BoardState {
    std::uint8_t CommMode = 0;       // 0 I2C, 1 SPI
    std::uint8_t ChipAddress = 0x20; // codec address on its control bus
    std::array<std::uint8_t, 3> SdpFlag{1, 0, 1}; // 0 "Codec=>Spdif", 1 "Spdif=>Codec"
    SpdifSettings Spdif;
    SupplyRange Supply = SupplyRange::Dvdd2V0;
    std::uint8_t PllUsed = 0;
    float PllMclk = 13000000.0f;
    float PllLrck = 48000.0f;
    std::uint8_t PllN = 0;
    std::array<std::uint8_t, 3> PllK{0, 0, 0}; // bits 23..16, 15..8, 7..0
    std::int32_t CodecType = 0;
};

// The current session's (BoardSession.h); throws std::logic_error without one.
BoardState& Board();

} // namespace evb
