// The board session's reading of a package by the reply kind of the last command, as a table.
#include "protocol/BoardSession.h"
#include "protocol/Command.h"

#include <gtest/gtest.h>

using evb::ReplyEvent;
using Kind = ReplyEvent::Kind;
using Bytes = std::vector<std::uint8_t>;

TEST(ReplyDecoding, EachReplyKindMakesItsEventAndAShortReplyReadsAsZeros) {
    Bytes info(18);
    for (std::uint8_t i = 0; i < 18; ++i)
        info[i] = i;
    struct Row {
        std::uint8_t kind;
        Bytes package;
        int count;
        Kind event;
        Bytes head; // the event's first bytes
        std::size_t size;
    } rows[] = {
        {evb::kReplyRegister, {0x05, 0x77}, 0, Kind::RegisterValue, {0x05}, 1},
        {evb::kReplyBlock, {1, 2, 3}, 0x4C, Kind::RegisterBlock, {1, 2, 3, 0}, evb::kReplyBufferSize},
        {evb::kReplyBoardInfo, info, 0, Kind::BoardInfo, info, 18},
        {evb::kReplyBoardInfo, {0xAA}, 0, Kind::BoardInfo, {0xAA, 0, 0}, 18},
        {evb::kReplyNone, {0x41, 0x42}, 0, Kind::Consumed, {0x41, 0x42}, 2},
        {0x58 + 1, {0x00}, 0, Kind::Consumed, {0x00}, 1},
        {evb::kReplyNotSent, {0x33}, 0, Kind::Consumed, {0x33}, 1},
        {evb::kReplySending, {0x33}, 0, Kind::Consumed, {0x33}, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.kind));
        const ReplyEvent e = evb::DecodeReply(r.kind, r.package.data(), r.package.size(), r.count);
        EXPECT_EQ(e.kind, r.event);
        EXPECT_EQ(e.replyKind, r.kind);
        ASSERT_EQ(e.bytes.size(), r.size);
        EXPECT_EQ(Bytes(e.bytes.begin(), e.bytes.begin() + static_cast<std::ptrdiff_t>(r.head.size())), r.head);
        EXPECT_EQ(e.count, r.count);
    }
    // A block reply's byte 255 (register 0xFF of the 256-register chips) is carried.
    Bytes full(300, 0x11);
    full[255] = 0xEE;
    EXPECT_EQ(evb::DecodeReply(evb::kReplyBlock, full.data(), full.size(), 255).bytes.at(255), 0xEE);
}
