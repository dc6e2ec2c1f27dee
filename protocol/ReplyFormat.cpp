#include "protocol/ReplyFormat.h"

#include "protocol/TextConv.h"

namespace evb {

std::string FormatBoardInfo(const std::uint8_t* b18) {
    static constexpr int kGroups[] = {2, 5, 3, 3, 3, 2};
    std::string line = ".....EVBINFO:";
    int at = 0;
    for (int g = 0; g < 6; ++g) {
        if (g > 0) line += "--";
        for (int i = 0; i < kGroups[g]; ++i)
            line += Hex2(b18[at++]);
    }
    line += ".....\r\n";
    return line;
}

std::string FormatReadReg(std::uint8_t reg, std::uint8_t value) {
    return "ReadReg:   Reg0x" + Hex2(reg) + " = 0x" + Hex2(value) + "\r\n";
}

std::string FormatWriteReg(std::uint8_t reg, std::uint8_t value) {
    return "WriteReg:   Reg0x" + Hex2(reg) + " = 0x" + Hex2(value) + "\r\n";
}

std::string FormatReadAllReg(std::uint8_t highest) {
    return "ReadAllReg:   Reg0x00~Reg0x" + Hex2(highest) + "\r\n";
}

} // namespace evb
