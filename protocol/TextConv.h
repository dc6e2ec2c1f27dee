#pragma once
// The program's text-to-integer conversion and hexadecimal output, used for every address
// and value a user types and every hex number the program prints.

#include <optional>
#include <string>
#include <string_view>

namespace evb {

// Leading blanks skipped; "$", "x", "X", "0x" or "0X" introduce hexadecimal digits of either
// case; otherwise an optional sign and decimal digits. An empty text, a stray character, a
// prefix without digits or a value outside int gives def.
int StrToIntDef(std::string_view text, int def);
// The same conversion without a default: nothing when the text is not a number.
std::optional<int> StrToIntOpt(std::string_view text);

// At least two upper-case hexadecimal digits: 0x0A -> "0A", 0x1FF -> "1FF".
std::string Hex2(unsigned value);

} // namespace evb
