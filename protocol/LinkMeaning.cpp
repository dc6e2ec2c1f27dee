#include "protocol/LinkMeaning.h"

#include <algorithm>

#include "protocol/BoardSession.h"

#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "protocol/RegisterMap.h"
#include "protocol/TextConv.h"


namespace evb {

namespace {

// " ADC_VOL_L" for a register the current session's link map names, else "".
std::string named(unsigned reg) {
    const BoardSession* session = CurrentSession();
    if (!session || !session->linkNames) return {};
    const std::string name = session->linkNames->nameOf(static_cast<std::uint8_t>(reg));
    return name.empty() ? name : " " + name;
}

std::string hx(unsigned v) {
    return "0x" + Hex2(v);
}

unsigned be16(std::uint8_t high, std::uint8_t low) {
    return static_cast<unsigned>(high) << 8 | low;
}

const char* onOff(std::uint8_t b) {
    return b ? "on" : "off";
}

} // namespace

std::string DescribeFrame(const CommandFrame& f) {
    if (f[0] != kFrameStart || f[kFrameSize - 1] != kFrameEnd) return "not a board frame";
    const std::uint8_t* r = f.data() + 1;
    switch (r[0]) {
    case 0x00:
        return "WriteReg " + hx(r[1]) + named(r[1]) + " = " + hx(r[2]);
    case 0x01: {
        const unsigned count = be16(r[2], r[3]);
        if (count == 1) return "ReadReg " + hx(r[1]) + named(r[1]);
        return "ReadAll from " + hx(r[1]) + ", " + std::to_string(count) + " registers";
    }
    case 0x02:
        return "SdpDirection SDP" + std::to_string(r[1] + 1) + " " +
               (r[2] == 0 ? "Codec=>Spdif" : r[2] == 1 ? "Spdif=>Codec" : hx(r[2]));
    case 0x04:
        return "BatchBegin " + std::to_string(be16(r[1], r[2]));
    case 0x05:
        switch (r[1]) {
        case 0x00:
            return "BatchWriteReg " + hx(r[2]) + named(r[2]) + " = " + hx(r[3]);
        case 0x07:
            return "BatchDelay " + std::to_string(be16(r[2], r[3]));
        case 0x0B:
            return "BatchG " + hx(r[2]) + " " + hx(r[3]);
        default:
            return "Batch line, sub-code " + hx(r[1]);
        }
    case 0x06:
        return "BatchEnd";
    case 0x08: {
        std::string text = "SpdifFormat rx";
        for (int i = 2; i <= 5; ++i)
            text += " " + hx(r[i]);
        text += ", tx";
        for (int i = 6; i <= 9; ++i)
            text += " " + hx(r[i]);
        return text;
    }
    case 0x09:
        return std::string("SpdifReset ") + onOff(r[1]);
    case 0x0A:
        switch (r[1]) {
        case 0:
            return "MclkSource S/PDIF DMCLK";
        case 1:
            return "MclkSource oscillator";
        case 3:
            return "MclkSource S/PDIF AMCLK";
        default:
            return "MclkSource " + hx(r[1]);
        }
    case 0x0C:
        return std::string("SpdifTxStop ") + onOff(r[1]);
    case 0x0D:
        return "ChipAddress " + hx(r[1]);
    case 0x0E:
        return r[1] == 0 ? "CommMode I2C" : r[1] == 1 ? "CommMode SPI" : "CommMode " + hx(r[1]);
    case 0x58:
        return "BoardInfo";
    default:
        return "unknown command " + hx(r[0]);
    }
}

std::string DescribeReply(std::uint8_t kind, const std::uint8_t* data, std::size_t n, int registerCount,
                          bool first) {
    if (first) {
        switch (kind) {
        case kReplyRegister:
            return "ReadReg reply " + hx(n > 0 ? data[0] : 0);
        case kReplyBlock:
            return "block of " + std::to_string(registerCount);
        case kReplyBoardInfo:
            return "board information";
        default:
            return "consumed";
        }
    }
    return "echoed";
}

void LogFrameSent(LinkLog& log, const CommandFrame& frame) {
    log.append(LinkDirection::Tx, frame.data(), frame.size(), DescribeFrame(frame));
}

void LogPackage(LinkLog& log, const std::uint8_t* data, std::size_t n, const std::string& how) {
    // An entry holds at most kMaxBytes: a longer package is shown as several, in order.
    const std::size_t parts = std::max<std::size_t>(1, (n + LinkLog::kMaxBytes - 1) / LinkLog::kMaxBytes);
    for (std::size_t i = 0; i < parts; ++i) {
        const std::size_t at = i * LinkLog::kMaxBytes;
        const std::size_t len = std::min(LinkLog::kMaxBytes, n - at);
        std::string meaning = std::to_string(len) + (len == 1 ? " byte, " : " bytes, ") + how;
        if (parts > 1) meaning += " (part " + std::to_string(i + 1) + " of " + std::to_string(parts) + ")";
        log.append(LinkDirection::Rx, data + at, len, std::move(meaning));
    }
}

void LogPortEvent(LinkLog& log, const std::string& port, const std::string& what) {
    log.append(LinkDirection::Event, nullptr, 0, port + " " + what);
}

void LogPackage(const std::uint8_t* data, std::size_t n, const std::string& how) {
    if (BoardSession* session = CurrentSession()) LogPackage(session->Log(), data, n, how);
}

void LogPortEvent(const std::string& port, const std::string& what) {
    if (BoardSession* session = CurrentSession()) LogPortEvent(session->Log(), port, what);
}

} // namespace evb
