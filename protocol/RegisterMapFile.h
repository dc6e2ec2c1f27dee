#pragma once
// Register-map files: the console's own JSON format ("format": "evbconsole-regmap-1", with the
// CMSIS-SVD vocabulary) and the part of CMSIS-SVD XML that fits a codec on a control bus. Both
// are read into the same raw description and checked by one validator, whose diagnostics read
// as the configuration checker's do, "FILE:LINE: error: ...". A map with errors is refused
// whole: the load gives no map at all, only the diagnostics.
//
// Errors: malformed JSON or XML; a register without a name or an address; an address above
// 0xFF; duplicate register names or addresses; an unknown access; a register size other than
// 8 bits (SVD); bits outside 7..0; overlapping fields; duplicate field names within a register;
// a value that does not fit its field; a reset value with reserved bits set (bits no field
// names; a register without fields has none); a number that cannot be read.
// Warnings: keys and elements the format does not know (ignored).

#include "protocol/ConfigCheck.h"
#include "protocol/RegisterMap.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace evb {

enum class RegisterMapFormat { Json, Svd };

struct RegisterMapLoad {
    std::optional<RegisterMap> map;            // only when there are no errors
    std::vector<ConfigDiagnostic> diagnostics; // in line order; line 0: about the file as a whole

    bool hasErrors() const;
    int errorCount() const;
    // "FILE:LINE: error: ..." lines (a line-0 diagnostic as "FILE: error: ..."), each ended by '\n'.
    std::string format(const std::string& file) const;
};

// The format is told by the text: SVD when its first non-blank character is '<'.
RegisterMapFormat GuessRegisterMapFormat(std::string_view text);
RegisterMapLoad ParseRegisterMap(std::string_view text, RegisterMapFormat format);
RegisterMapLoad ParseRegisterMap(std::string_view text);
// A file that cannot be read gives one line-0 error naming why.
RegisterMapLoad LoadRegisterMapFile(const std::string& path);

// The file name of a chip's shipped map: "KV2440.regmap.json", in the "regmaps" folder beside
// the presets.
constexpr const char* kRegisterMapFolder = "regmaps";
std::string RegisterMapFileName(const std::string& chip);

// A number as map files write it: decimal, 0x hexadecimal, 0b or # binary.
std::optional<long long> ParseMapNumber(std::string_view text);

} // namespace evb
