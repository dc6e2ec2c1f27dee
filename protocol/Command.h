#pragma once
// One builder per board command. Each zeroes a record, sets code and fields, sends it through
// SendBoardCommand and sets ExpectedReply to the command's reply kind (255 when not sent).
// Each returns false when the frame was sent, true when it was not.

#include <cstdint>

namespace evb {

// Reply kinds that the reply handler decodes.
constexpr std::uint8_t kReplyNone = 0;
constexpr std::uint8_t kReplyRegister = 1;
constexpr std::uint8_t kReplyBlock = 2;
constexpr std::uint8_t kReplyBoardInfo = 0x58;
constexpr std::uint8_t kReplySending = 254;
constexpr std::uint8_t kReplyNotSent = 255;

bool CmdWriteReg(std::uint8_t reg, std::uint8_t value);
bool CmdReadReg(std::uint8_t reg);
bool CmdReadAllReg(std::uint8_t start, std::uint16_t count); // count 255 is sent as 0x0100
bool CmdSdpDirection(std::uint8_t port, std::uint8_t dir);
bool CmdBatchBegin(std::uint16_t n);
bool CmdBatchWriteReg(std::uint8_t reg, std::uint8_t value);
bool CmdBatchDelay(std::uint16_t n);
bool CmdBatchG(std::uint8_t a, std::uint8_t b);
bool CmdBatchEnd();
bool CmdSpdifFormat(); // fields from the S/PDIF settings record of the board state
bool CmdSpdifReset(std::uint8_t on);
bool CmdMclkSource(std::uint8_t src);
bool CmdSpdifTxStop(std::uint8_t on);
bool CmdChipAddress(std::uint8_t addr);
bool CmdCommMode(std::uint8_t mode);
bool CmdBoardInfo();

// Two characters to one byte: hex digits of either case give 0..15, any other character keeps
// its own code; result (high * 16 + low) mod 256.
std::uint8_t HexPairToByte(char high, char low);

} // namespace evb
