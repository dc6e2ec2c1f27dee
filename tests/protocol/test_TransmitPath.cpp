// The transmit path when the line is slower than the sender or stops taking bytes.

#include "BoardLink.h"
#include "protocol/Command.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kWait = 10s;

TEST(TransmitPath, ShrunkenQueueOnAPacedLineWaitsForRoomAndDropsNothing) {
    // Room for three frames in the transmit queue; the board takes 11520 bytes/s.
    BoardLink link(LinkOptions{.pace = true, .baud = 115200, .outBufSize = 64});
    constexpr int kFrames = 200;
    for (int i = 0; i < kFrames; ++i)
        ASSERT_FALSE(evb::CmdWriteReg(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(~i))) << i;
    ASSERT_TRUE(link.board.WaitForFrames(kFrames, kWait));
    std::string want;
    for (int i = 0; i < kFrames; ++i)
        want += "00 " + evb::Hex2(i & 0xFF) + " " + evb::Hex2(~i & 0xFF) + ";";
    EXPECT_EQ(Records(link.board), Recs(want));
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
    EXPECT_TRUE(link.console.empty());
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
    ASSERT_EQ(link.console.size(), 1u);
    EXPECT_NE(link.console[0].find("not sent"), std::string::npos) << link.console[0];
    EXPECT_TRUE(link.warnings.empty());

    // Once the board reads again, exactly the frames reported sent arrive, whole and in order.
    link.board.StallReading(false);
    ASSERT_TRUE(link.board.WaitForFrames(static_cast<std::size_t>(sent), 30s));
    ASSERT_FALSE(evb::CmdBatchEnd());
    ASSERT_TRUE(link.board.WaitForFrames(static_cast<std::size_t>(sent) + 1, kWait));
    std::string want;
    for (int i = 0; i < sent; ++i)
        want += "05 00 " + evb::Hex2(i & 0xFF) + " " + evb::Hex2((i >> 8) & 0xFF) + ";";
    EXPECT_EQ(Records(link.board), Recs(want + "06"));
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
}

} // namespace
