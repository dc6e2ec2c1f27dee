// A board that babbles: a megabyte of random bytes at full speed, out of turn. Memory stays
// bounded, the user interface keeps handling events, nothing is sent in answer, and the
// console is usable afterwards.
#include "ReliabilityFixture.h"

#include "app/Tmainfrm.h"
#include "protocol/LinkLog.h"
#include "windows/TLinkMonitorFrm.h"

#include <QTimer>

namespace {

using BabbleTest = LinkedBoardFixture;

TEST_F(BabbleTest, AMegabyteOfNoiseKeepsMemoryBoundedAndTheWindowResponsive) {
    constexpr std::size_t kNoise = 1u << 20;
    const std::size_t before = reliability::MemoryInUse();
    std::size_t peak = before;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    markFrames();
    triggerMenu("Link Monitor"); // it follows the noise live
    const std::uint64_t loggedBefore = evb::TheLinkLog().appended();
    board->Babble(kNoise, 12345);
    // The timer keeps firing through every quarter of the noise: the window handles events
    // while the program digests the bytes (a handler that held the UI thread would stop it).
    for (std::size_t quarter = 1; quarter <= 4; ++quarter) {
        const int ticksBefore = ticks;
        ASSERT_TRUE(WaitUntil(
            [&] {
                peak = std::max(peak, reliability::MemoryInUse());
                return board->BytesSent() >= kNoise * quarter / 4 && ticks > ticksBefore;
            },
            60s))
            << "quarter " << quarter << ": the board wrote " << board->BytesSent() << " bytes, ticks " << ticks;
    }
    settle();
    // A megabyte in, a bounded amount held: the queues have fixed sizes and packages are
    // consumed as they arrive.
    EXPECT_LT(std::max(peak, reliability::MemoryInUse()) - before, std::size_t{48} << 20);
    EXPECT_EQ(sentSinceMark(), 0u) << "the program answered noise";
    EXPECT_GT(evb::TheLinkLog().appended(), loggedBefore);
    EXPECT_LE(evb::TheLinkLog().size(), evb::TheLinkLog().capacity());
    EXPECT_TRUE(app->main->LinkMonitorWindow()->isVisible());
    EXPECT_TRUE(portOpen());
    EXPECT_EQ(errorBox(), nullptr);
    // Still a working console: "Refresh" reaches the board whole, and during a read-all more
    // noise changes nothing of that.
    click("Refresh");
    const auto frames = framesSinceMark(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].record[0] * 0x100 + frames[4].record[0], 0x0D02);
    chooseCodec("KV2440");
    board->Babble(256 * 1024, 99);
    click("kv2580mfrm/RdAllRegCMD");
    settle();
    EXPECT_EQ(errorBox(), nullptr);
    board->SetRegister(0x20, 0x05, 0x6B);
    typeText("kv2580mfrm/RegAddrTxt", "5");
    markFrames();
    click("kv2580mfrm/RDRegCMD");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    EXPECT_TRUE(waitConsole("ReadReg:   Reg0x05 = 0x6B\n"));
}

} // namespace
