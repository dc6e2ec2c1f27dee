// Text conversions: a row for each rule of StrToIntDef (the fuzz target str_to_int checks Hex2
// over any value). The reply lines are checked where the console and evbctl print them.
#include "protocol/Command.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

#include <climits>

TEST(TextConv, StrToIntDefConvertsOrGivesTheDefault) {
    const struct {
        const char* text;
        int def, want;
    } cases[] = {{"0X1a", 128, 26},              {"$1A", 128, 26},               {"x1a", 128, 26},
                 {"X1A", 128, 26},               {"0xabcdef", 0, 0xABCDEF},      {"$9", 0, 9},
                 {"  0x1A", 128, 26},            {"\t 7", 128, 7},               {"-5", 128, -5},
                 {"+7", 128, 7},                 {"-", 128, 128},                {"", 128, 128},
                 {"0x", 128, 128},               {"1A", 128, 128},               {"12 ", 128, 128},
                 {"-0x5", 128, 128},             {"-2147483648", 0, INT_MIN},    {"2147483648", 9, 9},
                 {"0x80000000", 9, 9},           {"0x7FFFFFFF", 0, INT_MAX},     {"99999999999999999999", 9, 9},
                 {"-1", 128, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(evb::StrToIntDef(c.text, c.def), c.want) << '"' << c.text << '"';
}

TEST(TextConv, HexPairToByteReadsEitherCaseAndKeepsTheCodeOfAnyOtherCharacter) {
    const struct {
        char high, low;
        std::uint8_t want;
    } cases[] = {{'4', 'C', 0x4C}, {'f', 'f', 0xFF}, {'9', '0', 0x90},
                 {'G', '0', 0x70}, {'0', 'G', 0x47}, {' ', '1', 0x01}}; // ('G' * 16) mod 256
    for (const auto& c : cases)
        EXPECT_EQ(evb::HexPairToByte(c.high, c.low), c.want) << c.high << c.low;
}
