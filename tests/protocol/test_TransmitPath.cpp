// The transmit path when the line is slower than the sender or stops taking bytes.

#include "BoardLink.h"
#include "protocol/Command.h"
#include "protocol/TextConv.h"

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
    EXPECT_EQ(link.console, "");

    // The board stops reading: the pseudo-terminal's own buffer fills first, then the queue.
    evb::SetSendTimeout(150ms);
    link.board.StallReading(true);
    bool refused = false;
    for (int i = 0; i < 100000 && !refused; ++i)
        refused = send(i);
    ASSERT_TRUE(refused);
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyNotSent);
    EXPECT_EQ(link.console, "Frame not sent: the transmit queue had no room for it within 150 ms\r\n");
    EXPECT_TRUE(link.warnings.empty());

    // Once the board reads again, exactly the frames reported sent arrive, whole and in order.
    link.board.StallReading(false);
    ASSERT_TRUE(link.board.WaitForFrames(Recs(want).size(), 30s));
    ASSERT_FALSE(evb::CmdBatchEnd());
    ASSERT_TRUE(link.board.WaitForFrames(Recs(want).size() + 1, 10s));
    EXPECT_EQ(Records(link.board), Recs(want + "06"));
    EXPECT_EQ(link.board.State().garbageBytes, 0u);
}
