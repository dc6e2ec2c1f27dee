// A board that babbles: a megabyte of random bytes at full speed, out of turn. Memory stays
// bounded, the user interface keeps handling events, nothing is sent in answer, and the
// console is usable afterwards.
#include "ReliabilityFixture.h"

#include "app/Tmainfrm.h"
#include "protocol/LinkLog.h"
#include "windows/TLinkMonitorFrm.h"

#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

class BabbleTest : public LinkedBoardFixture {};

TEST_F(BabbleTest, AMegabyteOfNoiseKeepsMemoryBoundedAndTheWindowResponsive) {
    constexpr std::size_t kNoise = 1u << 20;
    const std::size_t rssBefore = reliability::MemoryInUse();
    std::size_t rssPeak = rssBefore;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    markFrames();
    // The Link Monitor follows the noise live.
    triggerMenu("Link Monitor");
    const std::uint64_t loggedBefore = evb::TheLinkLog().appended();

    board->Babble(kNoise, 12345);
    // The timer keeps firing through every quarter of the noise: the window handles events
    // while the program digests the bytes (a handler that held the UI thread would stop it).
    std::vector<int> ticksAtQuarter{0};
    for (std::size_t quarter = 1; quarter <= 4; ++quarter) {
        const bool reached = WaitUntil(
            [&] {
                rssPeak = std::max(rssPeak, reliability::MemoryInUse());
                return board->BytesSent() >= kNoise * quarter / 4 && ticks > ticksAtQuarter.back();
            },
            60s);
        ASSERT_TRUE(reached) << "quarter " << quarter << ": the board wrote " << board->BytesSent()
                             << " bytes, the timer fired " << ticks << " times";
        ticksAtQuarter.push_back(ticks);
    }
    settle();
    rssPeak = std::max(rssPeak, reliability::MemoryInUse());
    timer.stop();
    std::printf(
        "[ footprint] 1 MiB of noise: %s memory peak %zu KiB above the start, timer ticks at each quarter",
        reliability::MemoryMeasure(), (rssPeak - rssBefore) >> 10);
    for (std::size_t i = 1; i < ticksAtQuarter.size(); ++i)
        std::printf(" %d", ticksAtQuarter[i]);
    std::printf("\n");

    // A megabyte in, a bounded amount held: the queues have fixed sizes and packages are
    // consumed as they arrive.
    EXPECT_LT(rssPeak - rssBefore, std::size_t{48} << 20)
        << reliability::MemoryMeasure() << " memory grew by " << (rssPeak - rssBefore);
    EXPECT_EQ(sentSinceMark(), 0u) << "the program answered noise";
    // The link log saw the noise and holds a bounded ring of it.
    EXPECT_GT(evb::TheLinkLog().appended(), loggedBefore);
    EXPECT_LE(evb::TheLinkLog().size(), evb::TheLinkLog().capacity());
    EXPECT_TRUE(app->main->LinkMonitorWindow()->isVisible());
    EXPECT_TRUE(framesLogged().empty());
    EXPECT_TRUE(portOpen());
    EXPECT_EQ(errorBox(), nullptr);

    // Still a working console: "Refresh" reaches the board whole.
    click("Refresh");
    const auto frames = framesSinceMark(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].record[0], 0x0D);
    EXPECT_EQ(frames[4].record[0], 0x02);
}

TEST_F(BabbleTest, NoiseWhileAReadAllIsAnsweredStillLeavesAUsableConsole) {
    chooseCodec("KV2440");
    board->Babble(256 * 1024, 99);
    click("kv2580mfrm/RdAllRegCMD");
    settle();
    EXPECT_EQ(errorBox(), nullptr);
    EXPECT_TRUE(portOpen());
    // Once quiet, a read is answered and shown as usual.
    board->SetRegister(0x20, 0x05, 0x6B);
    typeText("kv2580mfrm/RegAddrTxt", "5");
    markFrames();
    click("kv2580mfrm/RDRegCMD");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return consoleHas("ReadReg:   Reg0x05 = 0x6B\n"); }));
}

} // namespace
