// Every builder's frame, byte for byte, as the simulated board receives it through a real
// pseudo-terminal; the reply kind each leaves in ExpectedReply; and what every builder does
// when it cannot send.

#include "BoardLink.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"

#include <functional>

namespace {

struct BuilderCase {
    const char* name;
    std::function<bool()> send;
    const char* record; // leading bytes
    std::uint8_t replyKind;
};

std::vector<BuilderCase> Cases() {
    using namespace evb;
    return {
        {"WriteReg", [] { return CmdWriteReg(0x1A, 0x05); }, "00 1A 05", 0},
        {"WriteRegMarkerBytes", [] { return CmdWriteReg(0x3A, 0x40); }, "00 3A 40", 0},
        {"ReadReg", [] { return CmdReadReg(0x40); }, "01 40 00 01", 1},
        {"ReadAllReg76", [] { return CmdReadAllReg(0, 76); }, "01 00 00 4C", 2},
        {"ReadAllReg255", [] { return CmdReadAllReg(0, 255); }, "01 00 01 00", 2},
        {"ReadAllReg256", [] { return CmdReadAllReg(0x10, 256); }, "01 10 01 00", 2},
        {"SdpDirection", [] { return CmdSdpDirection(1, 1); }, "02 01 01", 4},
        {"BatchBegin", [] { return CmdBatchBegin(0x3A40); }, "04 3A 40", 6},
        {"BatchWriteReg", [] { return CmdBatchWriteReg(0x21, 0x80); }, "05 00 21 80", 0},
        {"BatchDelay300", [] { return CmdBatchDelay(300); }, "05 07 01 2C", 0x55},
        {"BatchG", [] { return CmdBatchG(0x01, 0x02); }, "05 0B 01 02", 0x56},
        {"BatchEnd", [] { return CmdBatchEnd(); }, "06", 7},
        {"SpdifFormat",
         [] {
             gBoard.Spdif = {.rx_mode = 0x11, .rx_format = 0x12, .rx_resolution = 0x99, .rx_mclk_ratio = 0x13,
                             .rx_sclk_ratio = 0x3A, .tx_mode = 0x15, .tx_format = 0x40, .tx_resolution = 0x98,
                             .tx_mclk_ratio = 0x1234, .tx_sclk_ratio = 0xABCD};
             const bool r = CmdSpdifFormat();
             gBoard.Spdif = SpdifSettings{};
             return r;
         },
         "08 00 11 12 13 3A 15 40 34 CD", 8},
        {"SpdifReset", [] { return CmdSpdifReset(1); }, "09 01", 9},
        {"MclkSource", [] { return CmdMclkSource(3); }, "0A 03", 4},
        {"SpdifTxStop", [] { return CmdSpdifTxStop(1); }, "0C 01", 12},
        {"ChipAddress", [] { return CmdChipAddress(0xC6); }, "0D C6", 13},
        {"CommMode", [] { return CmdCommMode(1); }, "0E 01", 14},
        {"BoardInfo", [] { return CmdBoardInfo(); }, "58", 0x58},
    };
}

class BuilderTest : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(BuilderTest, FrameReachesTheBoardByteForByte) {
    BoardLink link;
    const std::uint64_t before = evb::FramesSent();
    EXPECT_FALSE(GetParam().send());
    ASSERT_TRUE(link.board.WaitForFrames(1, 5s));
    EXPECT_EQ(Records(link.board), Recs(GetParam().record));
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
    EXPECT_EQ(evb::ExpectedReply, GetParam().replyKind);
    EXPECT_EQ(evb::FramesSent(), before + 1);
    EXPECT_TRUE(link.warnings.empty());
}

INSTANTIATE_TEST_SUITE_P(Command, BuilderTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Builders, WithThePortClosedEachReportsOnceWritesNothingAndMarksNotSent) {
    BoardLink link(LinkOptions{.open = false});
    const std::uint64_t before = evb::FramesSent();
    for (const BuilderCase& c : Cases()) {
        evb::ExpectedReply = 0;
        EXPECT_TRUE(c.send()) << c.name;
        EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent) << c.name;
    }
    EXPECT_EQ(link.warnings, std::vector<std::string>(Cases().size(), "COM1 used by others Device!|"));
    EXPECT_EQ(evb::FramesSent(), before);
    evb::SetBoardDevice(nullptr); // no device at all reads as a closed port
    EXPECT_TRUE(evb::CmdWriteReg(1, 2));
    EXPECT_EQ(link.warnings.size(), Cases().size() + 1);
}

TEST(Builders, WhileTheBoardIsNotReadyNothingIsSentAndTheReplyKindStays) {
    BoardLink link;
    evb::BoardReady = 0;
    evb::ExpectedReply = 0x77;
    for (const BuilderCase& c : Cases())
        EXPECT_TRUE(c.send()) << c.name;
    EXPECT_EQ(evb::ExpectedReply, 0x77);
    EXPECT_TRUE(link.warnings.empty());
    // The next frame the board sees is the first one sent once ready again.
    evb::BoardReady = 255;
    ASSERT_FALSE(evb::CmdSpdifTxStop(0));
    ASSERT_TRUE(link.board.WaitForFrames(1, 5s));
    EXPECT_EQ(Records(link.board), Recs("0C 00"));
}

} // namespace
