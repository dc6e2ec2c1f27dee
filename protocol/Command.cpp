#include "protocol/Command.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/BoardState.h"
#include "protocol/LinkLog.h"
#include "protocol/LinkMeaning.h"
#include "protocol/SendStatus.h"
#include "serial/TCommPackage.h"
#include "serial/TCommQueue.h"
#include "serial/TRkCommDevice.h"
#include "serial/TTalonComm.h"

#include <initializer_list>

namespace evb {

namespace {

// Zeroes a record, fills code and fields, sends it and records the reply kind. A frame that
// BoardReady suppressed leaves ExpectedReply as it was; any other failure sets it to 255.
bool build(std::uint8_t replyKind, std::initializer_list<std::uint8_t> bytes, bool* sent = nullptr) {
    CommandRecord record{};
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        record[i++] = b;
    const SendStatus status = SendBoardCommandStatus(record);
    if (sent) *sent = status == SendStatus::Sent;
    switch (status) {
    case SendStatus::Sent:
        ExpectedReply = replyKind;
        return false;
    case SendStatus::Suppressed:
        return true;
    case SendStatus::PortNotActive:
    case SendStatus::NoRoom:
        break;
    }
    ExpectedReply = kReplyNotSent;
    return true;
}

std::uint8_t hi(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t lo(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

} // namespace

bool CmdWriteReg(std::uint8_t reg, std::uint8_t value) {
    return build(kReplyNone, {0x00, reg, value});
}

bool CmdReadReg(std::uint8_t reg) {
    // Takes the oldest package still waiting, if any, never this read's reply; ReplyByte keeps
    // its value when none is waiting. Only a package that was waiting before the frame left
    // counts: an answer of known length can be complete two character times after its byte,
    // before this looks.
    TalonComm::TRkCustomCommDevice* device = BoardDevice();
    const bool waiting =
        device != nullptr && (device->fGetUsePackage() ? device->Package()->ReadPackage(nullptr, 0) > 0
                                                       : device->Engine()->fGetInQueue()->Count() > 0);
    bool sent = false;
    const bool failed = build(kReplyRegister, {0x01, reg, 0x00, 0x01}, &sent);
    if (sent && waiting) {
        // The whole package is taken, as a one-byte read takes it; the log shows all of it.
        std::vector<std::uint8_t> package;
        if (const std::size_t n = TakePackage(*BoardDevice(), package); n > 0) {
            ReplyByte = package[0];
            LogPackage(package.data(), n, "consumed");
        }
    }
    return failed;
}

bool CmdReadAllReg(std::uint8_t start, std::uint16_t count) {
    if (count == 255) count = 0x0100; // profiles use 255 for all 256 registers
    return build(kReplyBlock, {0x01, start, hi(count), lo(count)});
}

bool CmdSdpDirection(std::uint8_t port, std::uint8_t dir) {
    return build(4, {0x02, port, dir});
}
bool CmdBatchBegin(std::uint16_t n) {
    return build(6, {0x04, hi(n), lo(n)});
}
bool CmdBatchWriteReg(std::uint8_t reg, std::uint8_t value) {
    return build(kReplyNone, {0x05, 0x00, reg, value});
}
bool CmdBatchDelay(std::uint16_t n) {
    return build(0x55, {0x05, 0x07, hi(n), lo(n)});
}
bool CmdBatchG(std::uint8_t a, std::uint8_t b) {
    return build(0x56, {0x05, 0x0B, a, b});
}
bool CmdBatchEnd() {
    return build(7, {0x06});
}

bool CmdSpdifFormat() {
    const SpdifSettings& s = Board().Spdif;
    return build(8, {0x08, 0x00, s.rx_mode, s.rx_format, s.rx_mclk_ratio, s.rx_sclk_ratio, s.tx_mode,
                     s.tx_format, static_cast<std::uint8_t>(s.tx_mclk_ratio & 0xFF),
                     static_cast<std::uint8_t>(s.tx_sclk_ratio & 0xFF)});
}

bool CmdSpdifReset(std::uint8_t on) {
    return build(9, {0x09, on});
}
bool CmdMclkSource(std::uint8_t src) {
    return build(4, {0x0A, src});
}
bool CmdSpdifTxStop(std::uint8_t on) {
    return build(12, {0x0C, on});
}
bool CmdChipAddress(std::uint8_t addr) {
    return build(13, {0x0D, addr});
}
bool CmdCommMode(std::uint8_t mode) {
    return build(14, {0x0E, mode});
}
bool CmdBoardInfo() {
    return build(kReplyBoardInfo, {0x58});
}

std::uint8_t HexPairToByte(char high, char low) {
    const auto digit = [](char c) -> unsigned {
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
        if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
        return static_cast<unsigned char>(c);
    };
    return static_cast<std::uint8_t>((digit(high) * 16 + digit(low)) & 0xFF);
}

} // namespace evb
