// Text-to-integer conversion against a reference model written from the rules alone, plus the
// round trip through the hexadecimal output.

#include "fuzz/FuzzInput.h"
#include "protocol/TextConv.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::optional<int> digitValue(char c, int base) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return std::nullopt;
    return d;
}

// Leading blanks; then "$", "x", "X", "0x" or "0X" and hex digits, or an optional sign and
// decimal digits; anything else, or a value int cannot hold, is the default.
int referenceStrToIntDef(std::string_view s, int def) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    s.remove_prefix(i);
    int base = 10;
    bool negative = false;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        base = 16;
        s.remove_prefix(2);
    } else if (s.starts_with('$') || s.starts_with('x') || s.starts_with('X')) {
        base = 16;
        s.remove_prefix(1);
    } else if (s.starts_with('+') || s.starts_with('-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return def;
    for (char c : s)
        if (!digitValue(c, base)) return def;
    while (s.size() > 1 && s[0] == '0')
        s.remove_prefix(1);
    if (s.size() > 12) return def; // beyond any int in either base
    long long v = 0;
    for (char c : s)
        v = v * base + *digitValue(c, base);
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return def;
    return static_cast<int>(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    const int def = static_cast<int>(static_cast<std::uint32_t>(in.u16()) << 16 | in.u16());
    const std::uint32_t hexValue = static_cast<std::uint32_t>(in.u16()) << 16 | in.u16();
    const std::string_view text = in.rest();

    const int got = evb::StrToIntDef(text, def);
    const int want = referenceStrToIntDef(text, def);
    if (got != want)
        std::fprintf(stderr, "text \"%.*s\": got %d, want %d\n", int(text.size()), text.data(), got, want);
    evbfuzz::require(got == want, "StrToIntDef agrees with the reference model");

    const std::string hex = evb::Hex2(hexValue);
    evbfuzz::require(hex.size() >= 2, "Hex2 writes at least two digits");
    evbfuzz::require(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos,
                     "Hex2 writes upper-case hex digits only");
    evbfuzz::require(hex.size() == 2 || hex[0] != '0', "Hex2 pads to two digits and no further");
    if (hexValue <= static_cast<std::uint32_t>(INT_MAX)) {
        evbfuzz::require(evb::StrToIntDef("0x" + hex, -1) == static_cast<int>(hexValue),
                         "0x + Hex2 reads back");
        evbfuzz::require(evb::StrToIntDef("$" + hex, -1) == static_cast<int>(hexValue),
                         "$ + Hex2 reads back");
    }
    return 0;
}
