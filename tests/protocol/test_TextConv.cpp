#include "protocol/Command.h"
#include "protocol/ReplyFormat.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct IntCase {
    const char* text;
    int def;
    int want;
};

class StrToIntDefTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntDefTest, ConvertsOrGivesTheDefault) {
    EXPECT_EQ(evb::StrToIntDef(GetParam().text, GetParam().def), GetParam().want)
        << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    TextConv, StrToIntDefTest,
    ::testing::Values(IntCase{"26", 128, 26}, IntCase{"0x1A", 128, 26}, IntCase{"0X1a", 128, 26},
                      IntCase{"$1A", 128, 26}, IntCase{"x1a", 128, 26}, IntCase{"X1A", 128, 26},
                      IntCase{"  0x1A", 128, 26}, IntCase{"-5", 128, -5}, IntCase{"+7", 128, 7},
                      IntCase{"", 128, 128}, IntCase{"   ", 128, 128}, IntCase{"0x", 128, 128},
                      IntCase{"$", 128, 128}, IntCase{"1A", 128, 128}, IntCase{"12 ", 128, 128},
                      IntCase{"0x1G", 128, 128}, IntCase{"-", 128, 128}, IntCase{"-0x5", 128, 128},
                      IntCase{"2147483647", 0, INT_MAX}, IntCase{"-2147483648", 0, INT_MIN},
                      IntCase{"2147483648", 9, 9}, IntCase{"0x80000000", 9, 9},
                      IntCase{"0x7FFFFFFF", 0, INT_MAX}, IntCase{"99999999999999999999", 9, 9},
                      IntCase{"0x", 256, 256}, IntCase{"0x0", 5, 0}));

TEST(Hex2, GivesAtLeastTwoUpperCaseDigits) {
    EXPECT_EQ(evb::Hex2(0), "00");
    EXPECT_EQ(evb::Hex2(0x0A), "0A");
    EXPECT_EQ(evb::Hex2(0xFF), "FF");
    EXPECT_EQ(evb::Hex2(0x1FF), "1FF");
}

struct PairCase {
    char high;
    char low;
    std::uint8_t want;
};

class HexPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(HexPairTest, TwoCharactersGiveOneByte) {
    EXPECT_EQ(evb::HexPairToByte(GetParam().high, GetParam().low), GetParam().want)
        << GetParam().high << GetParam().low;
}

INSTANTIATE_TEST_SUITE_P(HexPairToByte, HexPairTest,
                         ::testing::Values(PairCase{'4', 'C', 0x4C}, PairCase{'4', 'c', 0x4C},
                                           PairCase{'f', 'F', 0xFF}, PairCase{'0', '0', 0x00},
                                           PairCase{'9', '9', 0x99}, PairCase{'a', '0', 0xA0},
                                           // any other character keeps its code: ('G' * 16) mod 256
                                           PairCase{'G', '0', 0x70}, PairCase{'0', 'G', 0x47},
                                           PairCase{' ', '1', 0x01}, PairCase{'@', '@', 0x40}));

TEST(ReplyFormat, BoardInfoLineGroupsTheEighteenBytes) {
    std::uint8_t b[18];
    for (int i = 0; i < 18; ++i)
        b[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(evb::FormatBoardInfo(b),
              ".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\r\n");
}

TEST(ReplyFormat, RegisterLinesShowAddressAndValueInTwoHexDigits) {
    EXPECT_EQ(evb::FormatReadReg(0x1A, 0x05), "ReadReg:   Reg0x1A = 0x05\r\n");
    EXPECT_EQ(evb::FormatWriteReg(0x1A, 0x05), "WriteReg:   Reg0x1A = 0x05\r\n");
    EXPECT_EQ(evb::FormatReadAllReg(0x4B), "ReadAllReg:   Reg0x00~Reg0x4B\r\n");
}

} // namespace
