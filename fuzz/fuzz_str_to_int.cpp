// Text-to-integer conversion against a reference model written from the rules alone, plus the
// round trip through the hexadecimal output.

#include "fuzz/FuzzInput.h"
#include "protocol/TextConv.h"

#include <charconv>
#include <climits>
#include <string>

namespace {

// Leading blanks; then "$", "x", "X", "0x" or "0X" and hex digits, or an optional sign and
// decimal digits; anything else, or a value int cannot hold, is the default.
int referenceStrToIntDef(std::string_view s, int def) {
    s.remove_prefix(std::min(s.find_first_not_of(" \t"), s.size()));
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
    if (s.empty() || s.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") != s.npos)
        return def;
    long long v = 0;
    if (std::from_chars(s.data(), s.data() + s.size(), v, base).ec != std::errc{}) return def;
    v = negative ? -v : v;
    return v < INT_MIN || v > INT_MAX ? def : static_cast<int>(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    const int def = static_cast<int>(in.u32());
    const std::uint32_t hexValue = in.u32();
    const std::string_view text = in.rest();

    const int got = evb::StrToIntDef(text, def), want = referenceStrToIntDef(text, def);
    if (got != want)
        std::fprintf(stderr, "text \"%.*s\": got %d, want %d\n", int(text.size()), text.data(), got, want);
    evbfuzz::require(got == want, "StrToIntDef agrees with the reference model");

    const std::string hex = evb::Hex2(hexValue);
    evbfuzz::require(hex.size() >= 2 && hex.find_first_not_of("0123456789ABCDEF") == std::string::npos,
                     "Hex2 writes at least two upper-case hex digits");
    evbfuzz::require(hex.size() == 2 || hex[0] != '0', "Hex2 pads to two digits and no further");
    if (hexValue <= static_cast<std::uint32_t>(INT_MAX))
        evbfuzz::require(evb::StrToIntDef("0x" + hex, -1) == static_cast<int>(hexValue) &&
                             evb::StrToIntDef("$" + hex, -1) == static_cast<int>(hexValue),
                         "0x or $ + Hex2 reads back");
    return 0;
}
