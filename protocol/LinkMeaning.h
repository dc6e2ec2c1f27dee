#pragma once
// What the bytes on the link mean to the program: frames decoded as the command and its fields,
// packages as the reply handler reads them by the reply kind of the last command. And the
// calls that put frames, packages and port events into the link log.

#include "protocol/BoardCommand.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace evb {

// "WriteReg 0x1A = 0x05", "ReadAll from 0x00, 256 registers", "BatchBegin 512", ...
// Register frames carry the names of the current session's linkNames map ("WriteReg 0x1A
// ADC_VOL_L = 0x05").
std::string DescribeFrame(const CommandFrame& frame);

// How a package of n bytes is read under reply kind `kind`: "ReadReg reply 0x05", "block of
// 76", "board information"; for the other kinds the package that raised the event is
// "consumed" (first true) and the ones read after it "echoed". registerCount is the chip
// profile's count that a block reply fills.
std::string DescribeReply(std::uint8_t kind, const std::uint8_t* data, std::size_t n, int registerCount,
                          bool first);

class LinkLog;
// Link log entries (see LinkLog.h for the thread that may call them).
void LogFrameSent(LinkLog& log, const CommandFrame& frame);
void LogPackage(LinkLog& log, const std::uint8_t* data, std::size_t n, const std::string& how);
void LogPortEvent(LinkLog& log, const std::string& port, const std::string& what); // "opened", "closed", "went away"
// The same, into the current session's log (none: nothing is logged).
void LogPackage(const std::uint8_t* data, std::size_t n, const std::string& how);
void LogPortEvent(const std::string& port, const std::string& what);

} // namespace evb
