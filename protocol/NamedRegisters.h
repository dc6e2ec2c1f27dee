#pragma once
// Register names wherever a register appears, once a map is known: snapshot diffs with the
// fields that changed, compares that leave out volatile registers, restores that skip
// read-only ones, warnings for configuration writes the map forbids, and saved snapshots that
// name each register in its line's comment.

#include "protocol/ConfigCheck.h"
#include "protocol/RegisterMap.h"
#include "protocol/RegisterSnapshot.h"

#include <string>
#include <string_view>
#include <vector>

namespace evb {

// "0x1A ADC_VOL_L = 0x05" and a line for each field, "VOL[6:0] = 5 (-12 dB)" (lines ended by
// '\n' but the last); "" when the map does not name the register.
std::string RegisterSummary(const RegisterMap& map, std::uint8_t address, std::uint8_t value);

// Registers whose name or description holds text (case does not matter): a register of that
// name first, then those whose name holds it, then those whose description does; an empty text
// finds none.
std::vector<const RegisterInfo*> SearchRegisters(const RegisterMap& map, std::string_view text);

// What a register search offers to complete: "ADC_VOL_L — Left ADC digital volume", or the
// name alone. SearchRegisters finds the register by it.
std::string RegisterSearchLabel(const RegisterInfo& r);

// "Reg0x1A ADC_VOL_L: board 0x05, file 0x07 (VOL 5 → 7)"; without a map, or for a register the
// map does not name, the plain "Reg0x1A: board 0x05, file 0x07".
std::string FormatRegisterDiff(const RegisterDiff& diff, const RegisterMap* map);

// Takes the registers the map marks volatile out of expected; returns how many.
int LeaveOutVolatile(RegisterValues& expected, const RegisterMap& map);

// Takes the registers the map marks read-only out of expected and returns them, in order.
std::vector<RegisterDiff> LeaveOutReadOnly(std::vector<RegisterDiff>& diffs, const RegisterMap& map);

// "STATUS (0x3C), LEVEL (0x3D)"
std::string RegisterList(const std::vector<RegisterDiff>& diffs, const RegisterMap& map);

// Adds a warning for each write of the text to a read-only register or to reserved bits.
void AddRegisterMapWarnings(ConfigCheck& check, const RegisterMap& map);

// SnapshotText with each register's name as its line's comment, as far as the names fit in
// the configuration buffer with the text (so the snapshot stays loadable whole).
std::string SnapshotText(const std::vector<std::uint8_t>& values, const SnapshotHeader& header,
                         const RegisterMap& map);

} // namespace evb
