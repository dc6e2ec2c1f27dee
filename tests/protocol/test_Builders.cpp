// Every builder's frame, byte for byte, as the simulated board receives it through a real
// pseudo-terminal; and the reply kind each leaves in ExpectedReply.

#include "BoardLink.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"

#include <gtest/gtest.h>

#include <functional>

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 5s;

struct BuilderCase {
    const char* name;
    std::function<bool()> send;
    std::vector<std::uint8_t> leading; // record bytes from byte 0; the rest must be zero
    std::uint8_t replyKind;
};

std::array<std::uint8_t, 18> Rec(const std::vector<std::uint8_t>& leading) {
    std::array<std::uint8_t, 18> r{};
    for (std::size_t i = 0; i < leading.size(); ++i)
        r[i] = leading[i];
    return r;
}

std::vector<BuilderCase> Cases() {
    using namespace evb;
    return {
        {"WriteReg", [] { return CmdWriteReg(0x1A, 0x05); }, {0x00, 0x1A, 0x05}, 0},
        {"WriteRegMarkerBytes", [] { return CmdWriteReg(0x3A, 0x40); }, {0x00, 0x3A, 0x40}, 0},
        {"ReadReg", [] { return CmdReadReg(0x40); }, {0x01, 0x40, 0x00, 0x01}, 1},
        {"ReadAllReg76", [] { return CmdReadAllReg(0, 76); }, {0x01, 0x00, 0x00, 0x4C}, 2},
        {"ReadAllReg255", [] { return CmdReadAllReg(0, 255); }, {0x01, 0x00, 0x01, 0x00}, 2},
        {"ReadAllReg256", [] { return CmdReadAllReg(0x10, 256); }, {0x01, 0x10, 0x01, 0x00}, 2},
        {"SdpDirection", [] { return CmdSdpDirection(1, 1); }, {0x02, 0x01, 0x01}, 4},
        {"BatchBegin", [] { return CmdBatchBegin(0x3A40); }, {0x04, 0x3A, 0x40}, 6},
        {"BatchWriteReg", [] { return CmdBatchWriteReg(0x21, 0x80); }, {0x05, 0x00, 0x21, 0x80}, 0},
        {"BatchDelay300", [] { return CmdBatchDelay(300); }, {0x05, 0x07, 0x01, 0x2C}, 0x55},
        {"BatchG", [] { return CmdBatchG(0x01, 0x02); }, {0x05, 0x0B, 0x01, 0x02}, 0x56},
        {"BatchEnd", [] { return CmdBatchEnd(); }, {0x06}, 7},
        {"SpdifFormat",
         [] {
             SpdifSettings& s = gBoard.Spdif;
             s.rx_mode = 0x11, s.rx_format = 0x12, s.rx_resolution = 0x99, s.rx_mclk_ratio = 0x13;
             s.rx_sclk_ratio = 0x3A, s.tx_mode = 0x15, s.tx_format = 0x40, s.tx_resolution = 0x98;
             s.tx_mclk_ratio = 0x1234, s.tx_sclk_ratio = 0xABCD;
             const bool r = CmdSpdifFormat();
             gBoard.Spdif = SpdifSettings{};
             return r;
         },
         {0x08, 0x00, 0x11, 0x12, 0x13, 0x3A, 0x15, 0x40, 0x34, 0xCD},
         8},
        {"SpdifReset", [] { return CmdSpdifReset(1); }, {0x09, 0x01}, 9},
        {"MclkSource", [] { return CmdMclkSource(3); }, {0x0A, 0x03}, 4},
        {"SpdifTxStop", [] { return CmdSpdifTxStop(1); }, {0x0C, 0x01}, 12},
        {"ChipAddress", [] { return CmdChipAddress(0xC6); }, {0x0D, 0xC6}, 13},
        {"CommMode", [] { return CmdCommMode(1); }, {0x0E, 0x01}, 14},
        {"BoardInfo", [] { return CmdBoardInfo(); }, {0x58}, 0x58},
    };
}

class BuilderTest : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(BuilderTest, FrameReachesTheBoardByteForByte) {
    BoardLink link;
    const std::uint64_t before = evb::FramesSent();
    EXPECT_FALSE(GetParam().send());
    ASSERT_TRUE(link.board.WaitForFrames(1, kWait));
    const auto frames = link.board.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].record, Rec(GetParam().leading));
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
    EXPECT_EQ(evb::ExpectedReply, GetParam().replyKind);
    EXPECT_EQ(evb::FramesSent(), before + 1);
    EXPECT_TRUE(link.report.warnings.empty());
}

TEST_P(BuilderTest, WithThePortClosedReportsOnceWritesNothingAndMarksNotSent) {
    BoardLink link(LinkOptions{.open = false});
    const std::uint64_t before = evb::FramesSent();
    EXPECT_TRUE(GetParam().send());
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    EXPECT_EQ(link.report.warnings, std::vector<std::string>{"COM1 used by others Device!|"});
    EXPECT_EQ(evb::FramesSent(), before);
}

TEST_P(BuilderTest, WhileBoardIsNotReadyNothingIsSentAndTheReplyKindStays) {
    BoardLink link;
    evb::BoardReady = 0;
    evb::ExpectedReply = 0x77;
    EXPECT_TRUE(GetParam().send());
    EXPECT_EQ(evb::ExpectedReply, 0x77);
    EXPECT_TRUE(link.report.warnings.empty());
    // The next frame the board sees is the first one sent once ready again.
    evb::BoardReady = 255;
    ASSERT_FALSE(evb::CmdSpdifTxStop(0));
    ASSERT_TRUE(link.board.WaitForFrames(1, kWait));
    EXPECT_EQ(link.board.Frames()[0].record, Rec({0x0C, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(Command, BuilderTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BuilderNoDevice, WithoutAnyDeviceTheBuilderReportsThePortNotActive) {
    RecordingReport report;
    evb::SetUserReport(&report);
    evb::SetBoardDevice(nullptr);
    EXPECT_TRUE(evb::CmdWriteReg(1, 2));
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    EXPECT_EQ(report.warnings.size(), 1u);
    evb::SetUserReport(nullptr);
}

// --- CmdReadReg's extra read ---

TEST(ReadRegExtraRead, OldestWaitingPackageLeavesItsFirstByteInReplyByte) {
    BoardLink link;
    const std::uint64_t seen = link.Packages();
    link.board.SendUnsolicited({0x41, 0x42});
    ASSERT_TRUE(link.WaitPackages(seen, kWait));
    evb::ReplyByte = 0;
    EXPECT_FALSE(evb::CmdReadReg(0x10));
    EXPECT_EQ(evb::ReplyByte, 0x41);
    // The package was taken: the next one waiting is the reply to this read.
    const std::uint64_t after = link.Packages();
    ASSERT_TRUE(link.WaitPackages(after, kWait));
    std::uint8_t buf[257] = {};
    EXPECT_EQ(link.device.Read(buf, 257), 1);
    EXPECT_EQ(buf[0], link.board.Register(0x20, 0x10));
}

TEST(ReadRegExtraRead, WithNoPackageWaitingReplyByteKeepsItsValue) {
    BoardLink link;
    evb::ReplyByte = 0x5A;
    EXPECT_FALSE(evb::CmdReadReg(0x10));
    EXPECT_EQ(evb::ReplyByte, 0x5A);
}

TEST(ReplyKinds, TwoCommandsBackToBackLeaveTheSecondCommandsKind) {
    BoardLink link;
    EXPECT_FALSE(evb::CmdWriteReg(1, 1));
    EXPECT_EQ(evb::ExpectedReply, 0);
    EXPECT_FALSE(evb::CmdBoardInfo());
    EXPECT_EQ(evb::ExpectedReply, 0x58);
    ASSERT_TRUE(link.board.WaitForFrames(2, kWait));
}

} // namespace
