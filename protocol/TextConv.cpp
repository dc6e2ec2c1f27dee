#include "protocol/TextConv.h"

#include <climits>
#include <cstdint>

namespace evb {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<int> StrToIntOpt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    text.remove_prefix(i);
    if (text.empty()) return std::nullopt;

    std::size_t prefix = 0;
    if (text[0] == '$' || text[0] == 'x' || text[0] == 'X')
        prefix = 1;
    else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        prefix = 2;
    if (prefix > 0) {
        text.remove_prefix(prefix);
        if (text.empty()) return std::nullopt;
        std::uint64_t v = 0;
        for (char c : text) {
            const int d = hexDigit(c);
            if (d < 0) return std::nullopt;
            v = v * 16 + static_cast<unsigned>(d);
            if (v > INT_MAX) return std::nullopt;
        }
        return static_cast<int>(v);
    }

    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > static_cast<std::int64_t>(INT_MAX) + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return std::nullopt;
    return static_cast<int>(v);
}

int StrToIntDef(std::string_view text, int def) {
    return StrToIntOpt(text).value_or(def);
}

std::string Hex2(unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (s.size() < 2) s.insert(s.begin(), '0');
    return s;
}

} // namespace evb
