// The board session's reading of a package by the reply kind of the last command, as a table;
// the watch's reads among the user's commands, against the simulated board.
#include "BoardLink.h"
#include "protocol/BoardSession.h"
#include "protocol/Command.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

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

// A watch read waits for the user's answer and a quiet line; its answer goes to the watch, not
// to the sink, and ExpectedReply stays as the user's command left it. A user command sent while
// it is out takes its answer first; an answer that never comes is given up on, by the next
// watch read or by the user's command.
TEST(BoardSession, WatchReadsGoBetweenTheUsersCommandsAndTheirAnswersNeverMix) {
    BoardLink link;
    evb::BoardSession& s = link.session;
    const auto until = [](const std::function<bool()>& done) {
        for (const auto end = std::chrono::steady_clock::now() + 3s; !done();) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    };
    const auto handled = [&](int n) { return until([&] { return s.Counters().queued >= n; }); };
    link.board.SetRegister(0x20, 0x10, 0x11);
    link.board.SetRegister(0x20, 0x11, 0x22);
    std::vector<std::vector<std::uint8_t>> got;
    const auto done = [&](const std::vector<std::uint8_t>& v) { got.push_back(v); };
    ASSERT_FALSE(evb::CmdReadReg(0x1A));
    EXPECT_FALSE(s.WatchRead(0x10, 2, done)) << "the user's read awaits its answer";
    ASSERT_TRUE(handled(1));
    s.HandlePackage();
    ASSERT_TRUE(until([&] { return s.WatchReadAllowed(); }));
    ASSERT_TRUE(s.WatchRead(0x10, 2, done));
    EXPECT_EQ(evb::ExpectedReply, evb::kReplyRegister);
    ASSERT_FALSE(evb::CmdReadReg(0x1B)); // takes the watch's answer first
    EXPECT_EQ(got, (std::vector<std::vector<std::uint8_t>>{{0x11, 0x22}}));
    EXPECT_EQ(s.KnownValue(0x11), 0x22);
    ASSERT_TRUE(handled(3));
    s.HandlePackage();
    link.board.DropReplies(2);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(until([&] { return s.WatchReadAllowed(); }));
        ASSERT_TRUE(s.WatchRead(0x10, 1, done)); // the first one's answer is lost: the second goes anyway
    }
    ASSERT_FALSE(evb::CmdWriteReg(0x10, 0x33)); // gives up on the second's answer
    EXPECT_EQ(got.size(), 1u);
    ASSERT_TRUE(until([&] { return link.board.Register(0x20, 0x10) == 0x33; }));
}
