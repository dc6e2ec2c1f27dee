#pragma once
// The console lines that show what the board answered or what was written, shared by the
// main window's reply handler, the register console and evbctl so the texts exist once.
// Every line ends with "\r\n", as the console pane shows it.

#include <cstdint>
#include <string>

namespace evb {

// ".....EVBINFO:" + 18 bytes in groups of 2, 5, 3, 3, 3, 2 joined by "--" + ".....\r\n".
std::string FormatBoardInfo(const std::uint8_t* b18);
// "ReadReg:   Reg0x1A = 0x05\r\n"
std::string FormatReadReg(std::uint8_t reg, std::uint8_t value);
// "WriteReg:   Reg0x1A = 0x05\r\n"
std::string FormatWriteReg(std::uint8_t reg, std::uint8_t value);
// "ReadAllReg:   Reg0x00~Reg0x" + highest + "\r\n"
std::string FormatReadAllReg(std::uint8_t highest);

} // namespace evb
