// The link log: what each frame and reply package is shown as, the entry line, and the ring's
// bound.
#include "BoardLink.h" // Recs
#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "protocol/LinkMeaning.h"

TEST(LinkMeaning, EveryCommandIsShownWithItsFields) {
    const struct {
        const char* record; // leading bytes
        const char* meaning;
    } cases[] = {
        {"00 1A 05", "WriteReg 0x1A = 0x05"},
        {"01 40 00 01", "ReadReg 0x40"},
        {"01 00 01 00", "ReadAll from 0x00, 256 registers"},
        {"01 00 00 4C", "ReadAll from 0x00, 76 registers"},
        {"02 02 01", "SdpDirection SDP3 Spdif=>Codec"},
        {"04 02 00", "BatchBegin 512"},
        {"05 00 21 80", "BatchWriteReg 0x21 = 0x80"},
        {"05 07 01 2C", "BatchDelay 300"},
        {"05 0B 01 02", "BatchG 0x01 0x02"},
        {"06", "BatchEnd"},
        {"08 00 01 02 03 04 05 06 07 08", "SpdifFormat rx 0x01 0x02 0x03 0x04, tx 0x05 0x06 0x07 0x08"},
        {"09 01", "SpdifReset on"},
        {"0A 03", "MclkSource S/PDIF AMCLK"},
        {"0C 00", "SpdifTxStop off"},
        {"0D 20", "ChipAddress 0x20"},
        {"0E 01", "CommMode SPI"},
        {"58", "BoardInfo"},
        {"77", "unknown command 0x77"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(evb::DescribeFrame(evb::MakeFrame(Recs(c.record).at(0))), c.meaning);
}

// The entry line and the register, board-information and consumed replies: the evbctl trace
// tests.
TEST(LinkMeaning, ABlockAndAnEchoedPackageAreShownAsTheReplyKindReadsThem) {
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
