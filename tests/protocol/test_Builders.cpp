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
    std::array<std::uint8_t, 18> record;
    std::uint8_t replyKind;
};

std::vector<BuilderCase> Cases() {
    using namespace evb;
    return {
        {"WriteReg", [] { return CmdWriteReg(0x1A, 0x05); }, Rec({0x00, 0x1A, 0x05}), 0},
        {"WriteRegMarkerBytes", [] { return CmdWriteReg(0x3A, 0x40); }, Rec({0x00, 0x3A, 0x40}), 0},
        {"ReadReg", [] { return CmdReadReg(0x40); }, Rec({0x01, 0x40, 0x00, 0x01}), 1},
        {"ReadAllReg76", [] { return CmdReadAllReg(0, 76); }, Rec({0x01, 0x00, 0x00, 0x4C}), 2},
        {"ReadAllReg255", [] { return CmdReadAllReg(0, 255); }, Rec({0x01, 0x00, 0x01, 0x00}), 2},
        {"ReadAllReg256", [] { return CmdReadAllReg(0x10, 256); }, Rec({0x01, 0x10, 0x01, 0x00}), 2},
        {"SdpDirection", [] { return CmdSdpDirection(1, 1); }, Rec({0x02, 0x01, 0x01}), 4},
        {"BatchBegin", [] { return CmdBatchBegin(0x3A40); }, Rec({0x04, 0x3A, 0x40}), 6},
        {"BatchWriteReg", [] { return CmdBatchWriteReg(0x21, 0x80); }, Rec({0x05, 0x00, 0x21, 0x80}), 0},
        {"BatchDelay300", [] { return CmdBatchDelay(300); }, Rec({0x05, 0x07, 0x01, 0x2C}), 0x55},
        {"BatchG", [] { return CmdBatchG(0x01, 0x02); }, Rec({0x05, 0x0B, 0x01, 0x02}), 0x56},
        {"BatchEnd", [] { return CmdBatchEnd(); }, Rec({0x06}), 7},
        {"SpdifFormat",
         [] {
             gBoard.Spdif = {.rx_mode = 0x11, .rx_format = 0x12, .rx_resolution = 0x99, .rx_mclk_ratio = 0x13,
                             .rx_sclk_ratio = 0x3A, .tx_mode = 0x15, .tx_format = 0x40, .tx_resolution = 0x98,
                             .tx_mclk_ratio = 0x1234, .tx_sclk_ratio = 0xABCD};
             const bool r = CmdSpdifFormat();
             gBoard.Spdif = SpdifSettings{};
             return r;
         },
         Rec({0x08, 0x00, 0x11, 0x12, 0x13, 0x3A, 0x15, 0x40, 0x34, 0xCD}), 8},
        {"SpdifReset", [] { return CmdSpdifReset(1); }, Rec({0x09, 0x01}), 9},
        {"MclkSource", [] { return CmdMclkSource(3); }, Rec({0x0A, 0x03}), 4},
        {"SpdifTxStop", [] { return CmdSpdifTxStop(1); }, Rec({0x0C, 0x01}), 12},
        {"ChipAddress", [] { return CmdChipAddress(0xC6); }, Rec({0x0D, 0xC6}), 13},
        {"CommMode", [] { return CmdCommMode(1); }, Rec({0x0E, 0x01}), 14},
        {"BoardInfo", [] { return CmdBoardInfo(); }, Rec({0x58}), 0x58},
    };
}

class BuilderTest : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(BuilderTest, FrameReachesTheBoardByteForByte) {
    BoardLink link;
    const std::uint64_t before = evb::FramesSent();
    EXPECT_FALSE(GetParam().send());
    ASSERT_TRUE(link.board.WaitForFrames(1, 5s));
    EXPECT_EQ(Records(link.board), (std::vector{GetParam().record}));
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
    EXPECT_EQ(Records(link.board), (std::vector{Rec({0x0C, 0x00})}));
}

} // namespace
