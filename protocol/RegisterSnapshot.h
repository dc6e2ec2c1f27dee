#pragma once
// Register snapshots: the chip's registers saved as a configuration file, a board compared
// with such a file (or with an earlier read), and the text that writes back only what differs.
// The register console and evbctl both use these; neither has a second copy.
//
// A snapshot is an ordinary configuration file: one ":Wrrvv@" line per register, CR LF line
// ends, a short comment on the first line only. 256 registers take 2,304 bytes on disk plus the
// comment (2,374 in all as evbctl writes it; 2,118 once CR LF is folded), so "Load Configuration
// File" and "Send Configuration" accept it whole.

#include "protocol/ConfigCheck.h"
#include "protocol/SaveTextFile.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace evb {

// Registers a read-all of this register count answers: a count of 255 stands for all 256.
int RegistersAnswered(int regCount);

struct SnapshotHeader {
    std::string chip;        // the chip's name; empty when not known
    int chipAddress = -1;    // < 0: not known
    std::string when;        // local date and time, "2026-12-07 23:50:12"
};

// The local time as SnapshotHeader::when writes it.
std::string SnapshotTime();

// values[i] is register i. The first line's comment names the chip, its address and the time.
std::string SnapshotText(const std::vector<std::uint8_t>& values, const SnapshotHeader& header);

// A configuration file read as "Send Configuration" reads it (at most the buffer's size, a cut
// last line dropped) and checked.
struct CheckedConfigFile {
    TextLoad load;
    ConfigCheck check;
    std::string_view sendable() const { return check.sendable(load.text); }
};
CheckedConfigFile LoadCheckedConfigFile(const std::string& path, ConfigCheckOptions options = {});

// What each register should hold: register -> value.
using RegisterValues = std::map<std::uint8_t, std::uint8_t>;
// The last write of each register in a checked text (the last one wins).
RegisterValues ExpectedRegisters(const ConfigCheck& check);
// Every register of a read: register i -> values[i].
RegisterValues ExpectedRegisters(const std::vector<std::uint8_t>& values);

struct RegisterDiff {
    std::uint8_t reg = 0;
    std::uint8_t board = 0;    // what the board holds
    std::uint8_t expected = 0; // what the file (or the earlier read) holds
};

struct RegisterComparison {
    std::vector<RegisterDiff> diffs; // in register order
    int compared = 0;                // expected registers the board values cover
    int notRead = 0;                 // expected registers beyond the values read
    bool matches() const { return diffs.empty(); }
};
// board[i] is register i as read.
RegisterComparison CompareRegisters(const std::vector<std::uint8_t>& board, const RegisterValues& expected);

// "Reg0x1A: board 0x05, file 0x07"
std::string FormatRegisterDiff(const RegisterDiff& diff);
// "2 of 76 registers differ from FILE" or "every register matches FILE (76 registers compared)",
// and when some of the file's registers were not read, " (3 registers of the file are beyond
// the 76 read)".
std::string ComparisonSummary(const RegisterComparison& comparison, const std::string& file, int read);

// The configuration text that writes the expected value of each differing register, in order.
std::string RestoreText(const std::vector<RegisterDiff>& diffs);

} // namespace evb
