#pragma once
// A number typed into a field that is sent to the board: read in full, or refused with a line
// that names the field and its range. Unlike the conversion with a default, a typo never
// becomes a value nobody typed.

#include <optional>
#include <string>
#include <string_view>

namespace evb {

struct NumberField {
    std::string name; // "Register Value"
    int lo = 0;
    int hi = 0xFF;
    bool hex = true; // the range is shown in hexadecimal ("0x00..0xFF"), else in decimal
};

// The value of text ("$1A", "x1A", "0x1A", "26", blanks before), when it is a number within
// the field's range; otherwise nothing, and *problem (when given) reads
// "Register Value must be 0x00..0xFF: zz".
std::optional<int> ReadNumberField(std::string_view text, const NumberField& field, std::string* problem = nullptr);

} // namespace evb
