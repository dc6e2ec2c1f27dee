// The link log: what an unknown frame and the reply packages are shown as, and the ring's
// bound.
#include "BoardLink.h" // Recs
#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "protocol/LinkMeaning.h"

// Each builder's frame is shown in the builder table (test_Builders.cpp); the entry line and
// the register, board-information and consumed replies in the evbctl trace tests.
TEST(LinkMeaning, AnUnknownCommandShowsItsCodeAndABlockOrAnEchoedPackageHowTheReplyKindReadsIt) {
    EXPECT_EQ(evb::DescribeFrame(evb::MakeFrame(Recs("77").at(0))), "unknown command 0x77");
    const std::uint8_t b[] = {0x05, 0x06};
    EXPECT_EQ(evb::DescribeReply(evb::kReplyBlock, b, 2, 76, true), "block of 76");
    EXPECT_EQ(evb::DescribeReply(0x07, b, 1, 76, false), "echoed");
}

TEST(LinkLog, TheRingKeepsTheNewestEntriesAndBoundsTheirBytes) {
    evb::LinkLog log(100);
    std::vector<std::uint8_t> package(8192, 0x55);
    for (int i = 0; i < 128; ++i) // a megabyte of packages
        log.append(evb::LinkDirection::Rx, package.data(), package.size(), "echoed");
    EXPECT_EQ(log.size(), 100u);
    EXPECT_EQ(log.appended(), 128u);
    EXPECT_EQ(log.at(0).number, 29u);
    EXPECT_EQ(log.at(99).number, 128u);
    EXPECT_EQ(log.at(99).bytes.size(), evb::LinkLog::kMaxBytes);
    EXPECT_EQ(log.find(28), nullptr);
    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.find(128), nullptr);
}
