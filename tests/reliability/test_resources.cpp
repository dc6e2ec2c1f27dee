// Long runs: ten thousand commands and a thousand port open/close cycles, driven through the
// windows, leave the descriptor count, the thread count and the memory in use where they were.
#include "ReliabilityFixture.h"

namespace {

class ResourceTest : public LinkedBoardFixture {
  protected:
    // The footprint after `count` steps, once warmed up (caches, fonts, the console's first
    // blocks) by a tenth as many, is where it was before them.
    void expectFlat(int count, const std::function<void(int)>& step) {
        for (int i = 0; i < count / 10; ++i)
            step(i);
        const int fds = reliability::OpenDescriptorCount(), threads = reliability::ThreadCount();
        const std::size_t memory = reliability::MemoryInUse();
        for (int i = 0; i < count; ++i)
            step(i);
        settle();
        EXPECT_EQ(reliability::OpenDescriptorCount(), fds);
        EXPECT_EQ(reliability::ThreadCount(), threads);
        EXPECT_LT(reliability::MemoryInUse(), memory + (std::size_t{2} << 20)) << "from " << memory;
    }
};

// One frame and one acknowledgement per click. The console is cleared now and then, as a user
// does on a long day; the board's log (a test aid, not the program) is emptied with it.
TEST_F(ResourceTest, TenThousandCommandsLeaveDescriptorsThreadsAndMemoryFlat) {
    std::size_t received = 0;
    expectFlat(10000, [&](int i) {
        click(i % 2 == 0 ? "SDP2_SLV" : "SDP2_MS");
        if (i % 500 != 499) return;
        click("ClrCMD");
        markFrames();
        received += board->FrameCount();
        board->ClearFrames();
        forgetLostFrames();
    });
    EXPECT_EQ(received, 11000u);
    EXPECT_EQ(board->State().sdp[1], 0) << "the last click chose Codec=>Spdif";
}

// Selecting the board's device again closes the port and opens it anew.
TEST_F(ResourceTest, AThousandOpenCloseCyclesLeaveDescriptorsThreadsAndMemoryFlat) {
    typeText("RS232_CommPort", QString::fromStdString(linkPath));
    expectFlat(1000, [&](int i) {
        click("setrs232cmd");
        ASSERT_TRUE(portOpen()) << "cycle " << i;
        if (i % 200 == 199) click("ClrCMD");
    });
    EXPECT_EQ(errorBox(), nullptr);
    markFrames();
    click("SDP2_SLV");
    expectSent({{0x02, 0x01, 0x01}});
}

} // namespace
