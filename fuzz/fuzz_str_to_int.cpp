// Text-to-integer conversion on any text (its rules are the TextConv table's rows), and the
// hexadecimal output of any value with its round trip through the conversion.

#include "fuzz/FuzzInput.h"
#include "protocol/TextConv.h"

#include <climits>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    const int def = static_cast<int>(in.u32());
    const std::uint32_t hexValue = in.u32();
    evb::StrToIntDef(in.rest(), def);

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
