#pragma once
// The engine's copy of the line parameters, applied to the device at open.

#include <cstdint>

namespace TalonComm {

enum TDtrControl : std::uint8_t { dtrDisable = 0, dtrEnable = 1, dtrHandshake = 2 };
enum TRtsControl : std::uint8_t { rtsDisable = 0, rtsEnable = 1, rtsHandshake = 2, rtsToggle = 3 };

struct TCommDcb {
    std::uint32_t BaudRate = 115200;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    TDtrControl DtrControl = dtrEnable;
    bool fOutX = false;
    bool fInX = false;
    TRtsControl RtsControl = rtsEnable;
    bool fAbortOnError = false;
    std::uint16_t XonLim = 2048;
    std::uint16_t XoffLim = 512;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0x11;
    char XoffChar = 0x13;
};

} // namespace TalonComm
