// The link log: what each frame and reply package is shown as, the entry line, and the ring's
// bound.
#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "protocol/LinkMeaning.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

evb::CommandFrame frame(std::initializer_list<std::uint8_t> leading) {
    evb::CommandRecord r{};
    std::size_t i = 0;
    for (std::uint8_t b : leading)
        r[i++] = b;
    return evb::MakeFrame(r);
}

struct MeaningCase {
    evb::CommandFrame frame;
    const char* meaning;
};

TEST(LinkMeaning, EveryCommandIsShownWithItsFields) {
    const MeaningCase cases[] = {
        {frame({0x00, 0x1A, 0x05}), "WriteReg 0x1A = 0x05"},
        {frame({0x01, 0x40, 0x00, 0x01}), "ReadReg 0x40"},
        {frame({0x01, 0x00, 0x01, 0x00}), "ReadAll from 0x00, 256 registers"},
        {frame({0x01, 0x00, 0x00, 0x4C}), "ReadAll from 0x00, 76 registers"},
        {frame({0x02, 0x02, 0x01}), "SdpDirection SDP3 Spdif=>Codec"},
        {frame({0x04, 0x02, 0x00}), "BatchBegin 512"},
        {frame({0x05, 0x00, 0x21, 0x80}), "BatchWriteReg 0x21 = 0x80"},
        {frame({0x05, 0x07, 0x01, 0x2C}), "BatchDelay 300"},
        {frame({0x05, 0x0B, 0x01, 0x02}), "BatchG 0x01 0x02"},
        {frame({0x06}), "BatchEnd"},
        {frame({0x08, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}), "SpdifFormat rx 0x01 0x02 0x03 0x04, tx 0x05 0x06 0x07 0x08"},
        {frame({0x09, 0x01}), "SpdifReset on"},
        {frame({0x0A, 0x03}), "MclkSource S/PDIF AMCLK"},
        {frame({0x0C, 0x00}), "SpdifTxStop off"},
        {frame({0x0D, 0x20}), "ChipAddress 0x20"},
        {frame({0x0E, 0x01}), "CommMode SPI"},
        {frame({0x58}), "BoardInfo"},
        {frame({0x77}), "unknown command 0x77"},
    };
    for (const MeaningCase& c : cases)
        EXPECT_EQ(evb::DescribeFrame(c.frame), c.meaning);
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

} // namespace
