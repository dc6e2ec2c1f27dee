#include "protocol/NumberField.h"

#include "protocol/TextConv.h"

namespace evb {

namespace {

std::string bound(int v, bool hex) {
    return hex ? "0x" + Hex2(static_cast<unsigned>(v)) : std::to_string(v);
}

} // namespace

std::optional<int> ReadNumberField(std::string_view text, const NumberField& field, std::string* problem) {
    const std::optional<int> v = StrToIntOpt(text);
    if (v && *v >= field.lo && *v <= field.hi) return v;
    if (problem)
        *problem = field.name + " must be " + bound(field.lo, field.hex) + ".." + bound(field.hi, field.hex) + ": " +
                   std::string(text);
    return std::nullopt;
}

} // namespace evb
