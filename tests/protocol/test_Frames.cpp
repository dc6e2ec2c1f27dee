// Frames on the link. Every builder's frame, byte for byte, as the simulated board receives it
// through a real pseudo-terminal, and as the link log shows it; the reply kind each leaves in
// ExpectedReply; and what each does when it cannot send. What an unknown frame and the reply
// packages are shown as, and the link log ring's bound. The transmit path when the line is
// slower than the sender or stops taking bytes. Text conversions: a row for each rule of
// StrToIntDef (the fuzz target str_to_int checks Hex2 over any value, and that "0x" or "$" and
// Hex2 read back); the reply lines are checked where the console and evbctl print them.

#include "BoardLink.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "protocol/LinkMeaning.h"
#include "protocol/NumberField.h"
#include "protocol/TextConv.h"

#include <climits>
#include <functional>

namespace {

struct BuilderCase {
    const char* name;
    std::function<bool()> send;
    const char* record; // leading bytes
    std::uint8_t replyKind;
    const char* meaning; // as the link log shows the frame
};

std::vector<BuilderCase> Cases() {
    using namespace evb;
    return {
        {"WriteReg", [] { return CmdWriteReg(0x1A, 0x05); }, "00 1A 05", 0, "WriteReg 0x1A = 0x05"},
        {"ReadReg", [] { return CmdReadReg(0x40); }, "01 40 00 01", 1, "ReadReg 0x40"},
        {"ReadAllReg76", [] { return CmdReadAllReg(0x10, 76); }, "01 10 00 4C", 2,
         "ReadAll from 0x10, 76 registers"},
        // 255 stands for all 256 registers
        {"ReadAllReg255", [] { return CmdReadAllReg(0, 255); }, "01 00 01 00", 2, "ReadAll from 0x00, 256 registers"},
        {"SdpDirection", [] { return CmdSdpDirection(1, 1); }, "02 01 01", 4, "SdpDirection SDP2 Spdif=>Codec"},
        // the frame markers' bytes inside a record go as they are
        {"BatchBegin", [] { return CmdBatchBegin(0x3A40); }, "04 3A 40", 6, "BatchBegin 14912"},
        {"BatchWriteReg", [] { return CmdBatchWriteReg(0x21, 0x80); }, "05 00 21 80", 0, "BatchWriteReg 0x21 = 0x80"},
        {"BatchDelay300", [] { return CmdBatchDelay(300); }, "05 07 01 2C", 0x55, "BatchDelay 300"},
        {"BatchG", [] { return CmdBatchG(0x01, 0x02); }, "05 0B 01 02", 0x56, "BatchG 0x01 0x02"},
        {"BatchEnd", [] { return CmdBatchEnd(); }, "06", 7, "BatchEnd"},
        {"SpdifFormat",
         [] {
             Board().Spdif = {.rx_mode = 0x11, .rx_format = 0x12, .rx_resolution = 0x99, .rx_mclk_ratio = 0x13,
                             .rx_sclk_ratio = 0x3A, .tx_mode = 0x15, .tx_format = 0x40, .tx_resolution = 0x98,
                             .tx_mclk_ratio = 0x1234, .tx_sclk_ratio = 0xABCD};
             const bool r = CmdSpdifFormat();
             Board().Spdif = SpdifSettings{};
             return r;
         },
         "08 00 11 12 13 3A 15 40 34 CD", 8, "SpdifFormat rx 0x11 0x12 0x13 0x3A, tx 0x15 0x40 0x34 0xCD"},
        {"SpdifReset", [] { return CmdSpdifReset(1); }, "09 01", 9, "SpdifReset on"},
        {"MclkSource", [] { return CmdMclkSource(3); }, "0A 03", 4, "MclkSource S/PDIF AMCLK"},
        {"SpdifTxStop", [] { return CmdSpdifTxStop(0); }, "0C 00", 12, "SpdifTxStop off"},
        {"ChipAddress", [] { return CmdChipAddress(0xC6); }, "0D C6", 13, "ChipAddress 0xC6"},
        {"CommMode", [] { return CmdCommMode(1); }, "0E 01", 14, "CommMode SPI"},
        {"BoardInfo", [] { return CmdBoardInfo(); }, "58", 0x58, "BoardInfo"},
    };
}

class BuilderTest : public ::testing::TestWithParam<BuilderCase> {};

// Not ready: nothing is sent and the reply kind stays; ready: the frame, whole; closed or no
// device: one warning each, nothing written, and the reply kind marks the frame not sent.
TEST_P(BuilderTest, FrameReachesTheBoardByteForByteOnlyWhenReadyAndOpen) {
    BoardLink link;
    const std::uint64_t before = evb::FramesSent();
    evb::BoardReady = 0;
    evb::ExpectedReply = 0x77;
    EXPECT_TRUE(GetParam().send());
    EXPECT_EQ(evb::ExpectedReply, 0x77);
    evb::BoardReady = 255;
    EXPECT_FALSE(GetParam().send());
    ASSERT_TRUE(link.board.WaitForFrames(1, 5s));
    EXPECT_EQ(Records(link.board), Recs(GetParam().record));
    EXPECT_EQ(evb::DescribeFrame(evb::MakeFrame(Records(link.board).at(0))), GetParam().meaning);
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
    EXPECT_EQ(evb::ExpectedReply, GetParam().replyKind);
    link.device.fSetActive(false);
    EXPECT_TRUE(GetParam().send());
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    EXPECT_TRUE(GetParam().send());
    EXPECT_EQ(link.warnings, std::vector<std::string>(2, "COM1 used by others Device!|"));
    EXPECT_EQ(evb::FramesSent(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(Command, BuilderTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

// Each builder's frame is shown in the builder table above; the entry line and the register,
// board-information and consumed replies in the evbctl trace tests.
TEST(LinkMeaning, AnUnknownCommandShowsItsCodeAndABlockOrAnEchoedPackageHowTheReplyKindReadsIt) {
    EXPECT_EQ(evb::DescribeFrame(evb::MakeFrame(Recs("77").at(0))), "unknown command 0x77");
    const std::uint8_t b[] = {0x05, 0x06};
    EXPECT_EQ(evb::DescribeReply(evb::kReplyBlock, b, 2, 76, true), "block of 76");
    EXPECT_EQ(evb::DescribeReply(0x07, b, 1, 76, false), "echoed");
    // A package longer than an entry holds is shown as several entries, every byte in order.
    evb::LinkLog log;
    std::vector<std::uint8_t> acks(502, 0x00);
    acks[257] = 0x01;
    evb::LogPackage(log, acks.data(), acks.size(), "consumed");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log.at(0).meaning, "257 bytes, consumed (part 1 of 2)");
    EXPECT_EQ(log.at(1).meaning, "245 bytes, consumed (part 2 of 2)");
    EXPECT_EQ(log.at(1).bytes.front(), 0x01);
}

TEST(LinkLog, TheRingKeepsTheNewestEntriesAndBoundsTheirBytes) {
    evb::LinkLog log(100);
    std::vector<std::uint8_t> package(8192, 0x55);
    for (int i = 0; i < 128; ++i) // a megabyte of packages
        log.append(evb::LinkDirection::Rx, package.data(), package.size(), "echoed");
    EXPECT_EQ(log.size(), 100u);
    EXPECT_EQ(log.appended(), 128u);
    EXPECT_EQ(log.at(0).number, 29u);
    EXPECT_EQ(log.at(99).number, 128u);
    EXPECT_EQ(log.at(99).bytes.size(), evb::LinkLog::kMaxBytes);
    EXPECT_EQ(log.find(28), nullptr);
    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.find(128), nullptr);
}

TEST(TransmitPath, FramesWaitForRoomOnAPacedLineAndOneWithNoRoomInTimeIsReportedNotSentAndNeverSplit) {
    // Room for three frames in the transmit queue; the board takes 11520 bytes/s.
    BoardLink link(true, 115200, 64);
    std::string want;
    const auto send = [&](int i) {
        const bool refused = evb::CmdWriteReg(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(~i));
        if (!refused) want += "00 " + evb::Hex2(i & 0xFF) + " " + evb::Hex2(~i & 0xFF) + ";";
        return refused;
    };
    for (int i = 0; i < 200; ++i)
        ASSERT_FALSE(send(i)) << i;
    ASSERT_TRUE(link.board.WaitForFrames(200, 10s));

    // The board stops reading: the pseudo-terminal's own buffer fills first, then the queue.
    link.session.sendTimeout = 150ms;
    link.board.StallReading(true);
    bool refused = false;
    for (int i = 0; i < 100000 && !refused; ++i)
        refused = send(i);
    ASSERT_TRUE(refused);
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    // the one line, and no port warning
    EXPECT_EQ(link.console, "Frame not sent: the transmit queue had no room for it within 150 ms\r\n");

    // Once the board reads again, exactly the frames reported sent arrive, whole and in order.
    link.board.StallReading(false);
    ASSERT_TRUE(link.board.WaitForFrames(Recs(want).size(), 30s));
    ASSERT_FALSE(evb::CmdBatchEnd());
    ASSERT_TRUE(link.board.WaitForFrames(Recs(want).size() + 1, 10s));
    EXPECT_EQ(Records(link.board), Recs(want + "06"));
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
}

TEST(TextConv, StrToIntDefConvertsOrGivesTheDefault) {
    const struct {
        const char* text;
        int def, want;
    } cases[] = {{"0X1a", 128, 26},           {"x1a", 128, 26},            {"X1A", 128, 26},
                 {"0xabcdef", 0, 0xABCDEF},   {"  0x1A", 128, 26},         {"\t 7", 128, 7},
                 {"-5", 128, -5},             {"+7", 128, 7},              {"-", 128, 128},
                 {"", 128, 128},              {"0x", 128, 128},            {"1A", 128, 128},
                 {"12 ", 128, 128},           {"-0x5", 128, 128},          {"-2147483648", 0, INT_MIN},
                 {"2147483648", 9, 9},        {"0x80000000", 9, 9},        {"0x7FFFFFFF", 0, INT_MAX},
                 {"99999999999999999999", 9, 9}};
    for (const auto& c : cases)
        EXPECT_EQ(evb::StrToIntDef(c.text, c.def), c.want) << '"' << c.text << '"';
}

// A typed field takes a number within its range in every accepted form, and refuses anything
// else by name and range: no typo becomes a value.
TEST(NumberField, TakesANumberWithinTheRangeAndNamesTheRangeOtherwise) {
    const evb::NumberField value{"Register Value", 0, 0xFF};
    const evb::NumberField address{"Register Address", 0, 0x4C};
    const evb::NumberField mclk{"MCLK in MHz", 1, 100, false};
    const struct {
        const evb::NumberField& field;
        const char* text;
        int want; // -1: refused
    } cases[] = {{value, "$1A", 0x1A}, {value, "x1a", 0x1A}, {value, "0XFF", 0xFF}, {value, " 26", 26},
                 {value, "0", 0},      {value, "zz", -1},    {value, "", -1},       {value, "0x", -1},
                 {value, "300", -1},   {value, "-1", -1},    {value, "0x1FF", -1},  {address, "0x4C", 0x4C},
                 {address, "0x4D", -1}, {address, "256", -1}, {mclk, "13", 13},     {mclk, "0", -1}};
    for (const auto& c : cases) {
        std::string problem;
        const std::optional<int> v = evb::ReadNumberField(c.text, c.field, &problem);
        EXPECT_EQ(v.value_or(-1), c.want) << '"' << c.text << '"';
        EXPECT_EQ(problem.empty(), c.want >= 0) << problem;
    }
    std::string problem;
    evb::ReadNumberField("zz", value, &problem);
    EXPECT_EQ(problem, "Register Value must be 0x00..0xFF: zz");
    evb::ReadNumberField("0x4D", address, &problem);
    EXPECT_EQ(problem, "Register Address must be 0x00..0x4C: 0x4D");
    evb::ReadNumberField("abc", mclk, &problem);
    EXPECT_EQ(problem, "MCLK in MHz must be 1..100: abc");
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
