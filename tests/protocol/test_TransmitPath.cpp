// The transmit path when the line is slower than the sender or stops taking bytes.

#include "BoardLink.h"
#include "protocol/Command.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 10s;

TEST(TransmitPath, ShrunkenQueueOnAPacedLineWaitsForRoomAndDropsNothing) {
    // Room for three frames in the transmit queue; the board takes 11520 bytes/s.
    BoardLink link(LinkOptions{.pace = true, .baud = 115200, .outBufSize = 64});
    constexpr int kFrames = 200;
    for (int i = 0; i < kFrames; ++i)
        ASSERT_FALSE(evb::CmdWriteReg(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(~i))) << i;
    ASSERT_TRUE(link.board.WaitForFrames(kFrames, kWait));
    const auto frames = link.board.Frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(frames[i].record[1], static_cast<std::uint8_t>(i));
        EXPECT_EQ(frames[i].record[2], static_cast<std::uint8_t>(~i));
    }
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
    EXPECT_TRUE(link.report.console.empty());
}

TEST(TransmitPath, FrameWithNoRoomInTimeIsReportedNotSentAndNeverSplit) {
    BoardLink link(LinkOptions{.outBufSize = 64});
    evb::SetSendTimeout(150ms);
    link.board.StallReading(true);
    int sent = 0;
    bool refused = false;
    // The pseudo-terminal's own buffer fills first, then the transmit queue.
    for (int i = 0; i < 100000 && !refused; ++i) {
        refused = evb::CmdBatchWriteReg(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8));
        if (!refused) ++sent;
    }
    ASSERT_TRUE(refused);
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    ASSERT_EQ(link.report.console.size(), 1u);
    EXPECT_NE(link.report.console[0].find("not sent"), std::string::npos) << link.report.console[0];
    EXPECT_TRUE(link.report.warnings.empty());

    // Once the board reads again, exactly the frames reported sent arrive, whole and in order.
    link.board.StallReading(false);
    ASSERT_TRUE(link.board.WaitForFrames(static_cast<std::size_t>(sent), 30s));
    ASSERT_FALSE(evb::CmdBatchEnd());
    ASSERT_TRUE(link.board.WaitForFrames(static_cast<std::size_t>(sent) + 1, kWait));
    const auto frames = link.board.Frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(sent) + 1);
    for (int i = 0; i < sent; ++i) {
        ASSERT_EQ(frames[i].record[0], 0x05) << i;
        ASSERT_EQ(frames[i].record[2], static_cast<std::uint8_t>(i)) << i;
        ASSERT_EQ(frames[i].record[3], static_cast<std::uint8_t>(i >> 8)) << i;
    }
    EXPECT_EQ(frames.back().record[0], 0x06);
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
}

TEST(TransmitPath, AfterAHangUpBuildersReportThePortNotActive) {
    BoardLink link;
    link.board.HangUp();
    ASSERT_TRUE(link.WaitInactive(kWait));
    EXPECT_TRUE(evb::CmdWriteReg(1, 2));
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    EXPECT_EQ(link.report.warnings.size(), 1u);
}

} // namespace
