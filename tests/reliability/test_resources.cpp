// Long runs: ten thousand commands and a thousand port open/close cycles, driven through the
// windows, leave the descriptor count, the thread count and the memory in use where they were.
#include "ReliabilityFixture.h"

#include <cstdio>

namespace {

using reliability::MemoryInUse;
using reliability::OpenDescriptorCount;
using reliability::ThreadCount;

struct Footprint {
    int fds = 0;
    int threads = 0;
    std::size_t rss = 0;
};

Footprint footprint() {
    return {OpenDescriptorCount(), ThreadCount(), MemoryInUse()};
}

void report(const char* what, const Footprint& before, const Footprint& after) {
    std::printf("[ footprint] %s: descriptors %d -> %d, threads %d -> %d, %s memory %zu -> %zu KiB\n", what,
                before.fds, after.fds, before.threads, after.threads, reliability::MemoryMeasure(),
                before.rss >> 10, after.rss >> 10);
}

constexpr std::size_t kRssTolerance = std::size_t{2} << 20;

class ResourceTest : public LinkedBoardFixture {
  protected:
    // Clicks the SDP2 direction back and forth: one frame and one acknowledgement per click. The
    // console is cleared now and then, as a user does on a long day.
    // Returns how many frames the board received for them.
    std::size_t commands(int count) {
        std::size_t received = 0;
        for (int i = 0; i < count; ++i) {
            click(i % 2 == 0 ? "SDP2_SLV" : "SDP2_MS");
            if (i % 500 == 499 || i == count - 1) {
                click("ClrCMD");
                received += takeFrames();
            }
        }
        settle();
        return received;
    }
    // Waits for the board to have every frame sent so far, then empties its log, so that the
    // log (a test aid, not the program) does not grow with the run.
    std::size_t takeFrames() {
        markFrames();
        const std::size_t n = board->FrameCount();
        board->ClearFrames();
        sentBase = sentMark = evb::FramesSent();
        frameMark = 0;
        return n;
    }
    // Selecting the board's device again closes the port and opens it anew.
    void reopenings(int count) {
        typeText("RS232_CommPort", QString::fromStdString(linkPath));
        for (int i = 0; i < count; ++i) {
            click("setrs232cmd");
            ASSERT_TRUE(portOpen()) << "cycle " << i;
            if (i % 200 == 199) click("ClrCMD");
        }
        click("ClrCMD");
        EXPECT_EQ(errorBox(), nullptr);
    }
};

TEST_F(ResourceTest, TenThousandCommandsLeaveDescriptorsThreadsAndMemoryFlat) {
    commands(500); // warm-up: caches, fonts and the console's first blocks
    const Footprint before = footprint();
    const std::size_t received = commands(10000);
    const Footprint after = footprint();
    report("10000 commands", before, after);
    EXPECT_EQ(received, 10000u);
    EXPECT_EQ(board->State().sdp[1], 0) << "the last click chose Codec=>Spdif";
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LT(after.rss, before.rss + kRssTolerance)
        << reliability::MemoryMeasure() << " memory grew from " << before.rss << " to " << after.rss;
}

TEST_F(ResourceTest, AThousandOpenCloseCyclesLeaveDescriptorsThreadsAndMemoryFlat) {
    reopenings(100);
    const Footprint before = footprint();
    reopenings(1000);
    const Footprint after = footprint();
    report("1000 open/close cycles", before, after);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LT(after.rss, before.rss + kRssTolerance)
        << reliability::MemoryMeasure() << " memory grew from " << before.rss << " to " << after.rss;
    // The port still carries commands after the last reopening.
    markFrames();
    click("SDP2_SLV");
    const auto frames = framesSinceMark(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].record[0], 0x02);
}

} // namespace
