#include "PtyPeer.h"
#include "sim/SimBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <unistd.h>

using namespace std::chrono_literals;
using evbsim::SimBoard;
using evbsim::SimOptions;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr auto kWait = 5s;

SimOptions Unpaced() {
    SimOptions o;
    o.pace = false;
    return o;
}

class SimBoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(board.Start());
        peer = std::make_unique<PtyPeer>(board.DevicePath());
        ASSERT_TRUE(peer->IsOpen());
    }

    // Sends one frame and returns the reply, expected to be n bytes long.
    Bytes Ask(const std::array<std::uint8_t, 18>& record, std::size_t n) {
        const std::size_t before = board.FrameCount();
        EXPECT_TRUE(peer->WriteFrame(record));
        EXPECT_TRUE(board.WaitForFrames(before + 1, kWait));
        return peer->ReadExactly(n, kWait);
    }

    SimBoard board{Unpaced()};
    std::unique_ptr<PtyPeer> peer;
};

Bytes Frame(const std::array<std::uint8_t, 18>& record) {
    Bytes f(record.size() + 2);
    f.front() = 0x3A;
    std::copy(record.begin(), record.end(), f.begin() + 1);
    f.back() = 0x40;
    return f;
}

} // namespace

// --- framing ---

TEST_F(SimBoardTest, FrameWrittenOneByteAtATimeIsLoggedWhole) {
    const auto rec = Record({0x00, 0x1A, 0x05});
    for (std::uint8_t b : Frame(rec))
        ASSERT_TRUE(peer->Write({b}));
    ASSERT_TRUE(board.WaitForFrames(1, kWait));
    EXPECT_EQ(board.Frames()[0].record, rec);
}

TEST_F(SimBoardTest, RecordBytesEqualToTheMarkersNeedNoEscaping) {
    const auto rec = Record({0x00, 0x3A, 0x40, 0x3A, 0x40, 0x40, 0x3A});
    ASSERT_EQ(Ask(rec, 1), Bytes{0x00});
    EXPECT_EQ(board.Frames().at(0).record, rec);
    EXPECT_EQ(board.Register(0x20, 0x3A), 0x40);
    EXPECT_EQ(board.State().garbageBytes, 0u);
}

struct ResyncCase {
    const char* name;
    Bytes prefix;          // bytes on the line before a good frame
    std::uint64_t garbage; // bytes the board must skip
};

class SimResyncTest : public SimBoardTest, public ::testing::WithParamInterface<ResyncCase> {};

TEST_P(SimResyncTest, GoodFrameAfterGarbageIsFoundAndGarbageCounted) {
    const auto rec = Record({0x0A, 0x03});
    Bytes line = GetParam().prefix;
    const Bytes f = Frame(rec);
    line.insert(line.end(), f.begin(), f.end());
    ASSERT_TRUE(peer->Write(line));
    ASSERT_TRUE(board.WaitForFrames(1, kWait));
    EXPECT_EQ(peer->ReadExactly(1, kWait), Bytes{0x00});
    EXPECT_EQ(board.FrameCount(), 1u);
    EXPECT_EQ(board.Frames()[0].record, rec);
    EXPECT_EQ(board.State().mclkSource, 3);
    EXPECT_EQ(board.State().garbageBytes, GetParam().garbage);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, SimResyncTest,
    ::testing::Values(
        ResyncCase{"noise", {0x00, 0xFF, 0x40, 0x12}, 4},
        // a start marker followed by fewer than 19 bytes before the real frame
        ResyncCase{"falseStart", {0x3A, 0x01, 0x02}, 3}, ResyncCase{"twoFalseStarts", {0x3A, 0x3A, 0x7F}, 3},
        ResyncCase{"brokenFrame", {0x3A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x41}, 20}),
    [](const auto& info) { return std::string(info.param.name); });

// --- replies ---

TEST_F(SimBoardTest, ReadOfOneRegisterAnswersItsValue) {
    board.SetRegister(0x20, 0x1A, 0x05);
    EXPECT_EQ(Ask(Record({0x01, 0x1A, 0x00, 0x01}), 1), Bytes{0x05});
}

TEST_F(SimBoardTest, ReadOfCount0x0100AnswersAll256RegistersFromTheStart) {
    for (int r = 0; r < 256; ++r)
        board.SetRegister(0x20, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(255 - r));
    const Bytes reply = Ask(Record({0x01, 0x00, 0x01, 0x00}), 256);
    ASSERT_EQ(reply.size(), 256u);
    for (int r = 0; r < 256; ++r)
        EXPECT_EQ(reply[r], 255 - r) << r;
}

TEST_F(SimBoardTest, ReadOfCount76AnswersExactly76Bytes) {
    const Bytes reply = Ask(Record({0x01, 0x00, 0x00, 0x4C}), 76);
    ASSERT_EQ(reply.size(), 76u);
    for (int r = 0; r < 76; ++r)
        EXPECT_EQ(reply[r], board.Register(0x20, static_cast<std::uint8_t>(r)));
    // The next byte on the line is the acknowledgement of the next command, not a 77th register.
    EXPECT_EQ(Ask(Record({0x0A, 0x01}), 1), Bytes{0x00});
}

TEST_F(SimBoardTest, BoardInfoRequestAnswersTheInfoRecord) {
    std::array<std::uint8_t, 18> info{};
    for (std::size_t i = 0; i < info.size(); ++i)
        info[i] = static_cast<std::uint8_t>(0xA0 + i);
    board.SetInfoRecord(info);
    EXPECT_EQ(Ask(Record({0x58}), 18), Bytes(info.begin(), info.end()));
}

TEST_F(SimBoardTest, RegistersReadAfterPowerOnAreNotAllTheSame) {
    const Bytes reply = Ask(Record({0x01, 0x00, 0x00, 0x10}), 16);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_GT(std::set<std::uint8_t>(reply.begin(), reply.end()).size(), 8u);
}

// --- board state ---

TEST_F(SimBoardTest, WriteThenReadReturnsTheWrittenValue) {
    EXPECT_EQ(Ask(Record({0x00, 0x33, 0xC4}), 1), Bytes{0x00});
    EXPECT_EQ(Ask(Record({0x01, 0x33, 0x00, 0x01}), 1), Bytes{0xC4});
}

TEST_F(SimBoardTest, EachChipAddressHasItsOwnRegisterFile) {
    Ask(Record({0x00, 0x10, 0x11}), 1); // chip 0x20 (power-on address)
    Ask(Record({0x0D, 0x30}), 1);       // address chip 0x30
    Ask(Record({0x00, 0x10, 0x99}), 1);
    EXPECT_EQ(board.Register(0x20, 0x10), 0x11);
    EXPECT_EQ(board.Register(0x30, 0x10), 0x99);
    EXPECT_EQ(Ask(Record({0x01, 0x10, 0x00, 0x01}), 1), Bytes{0x99});
    EXPECT_EQ(board.State().chipAddress, 0x30);
}

TEST_F(SimBoardTest, SetUpCommandsChangeTheBoardState) {
    Ask(Record({0x0E, 0x01}), 1);
    Ask(Record({0x0A, 0x03}), 1);
    Ask(Record({0x02, 0x01, 0x01}), 1);
    Ask(Record({0x09, 0x01}), 1);
    Ask(Record({0x0C, 0x01}), 1);
    Ask(Record({0x08, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}), 1);
    const auto s = board.State();
    EXPECT_EQ(s.commMode, 1);
    EXPECT_EQ(s.mclkSource, 3);
    EXPECT_EQ(s.sdp, (std::array<std::uint8_t, 3>{1, 1, 1}));
    EXPECT_EQ(s.spdif.reset, 1);
    EXPECT_EQ(s.spdif.txStop, 1);
    EXPECT_EQ(s.spdif.format, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SimBoardTest, BatchCountsItsLinesAndWritesRegisters) {
    Ask(Record({0x04, 0x00, 0x03}), 1);
    EXPECT_TRUE(board.State().batchOpen);
    Ask(Record({0x05, 0x00, 0x21, 0x80}), 1);
    Ask(Record({0x05, 0x07, 0x01, 0x2C}), 1);
    Ask(Record({0x05, 0x0B, 0x01, 0x02}), 1);
    Ask(Record({0x06}), 1);
    const auto s = board.State();
    EXPECT_FALSE(s.batchOpen);
    EXPECT_EQ(s.batchDeclared, 3);
    EXPECT_EQ(s.batchLines, 3u);
    EXPECT_EQ(s.batchesCompleted, 1u);
    EXPECT_EQ(board.Register(0x20, 0x21), 0x80);
}

// --- faults ---

TEST_F(SimBoardTest, DroppedReplyIsNeverSentAndTheNextOneIs) {
    board.SetRegister(0x20, 1, 0x11);
    board.SetRegister(0x20, 2, 0x22);
    board.DropReplies(1);
    peer->WriteFrame(Record({0x01, 0x01, 0x00, 0x01}));
    EXPECT_EQ(Ask(Record({0x01, 0x02, 0x00, 0x01}), 1), Bytes{0x22});
}

TEST_F(SimBoardTest, CorruptedReplyHasItsBytesInverted) {
    board.SetRegister(0x20, 1, 0x0F);
    board.CorruptReplies(1);
    EXPECT_EQ(Ask(Record({0x01, 0x01, 0x00, 0x01}), 1), Bytes{0xF0});
    EXPECT_EQ(Ask(Record({0x01, 0x01, 0x00, 0x01}), 1), Bytes{0x0F});
}

TEST_F(SimBoardTest, TruncatedReplyKeepsOnlyItsFirstBytes) {
    board.TruncateReplies(1, 3);
    const Bytes info = Ask(Record({0x58}), 3);
    EXPECT_EQ(info, (Bytes{0x00, 0x01, 0x02}));
    // The next byte is already the acknowledgement of the following command.
    EXPECT_EQ(Ask(Record({0x0A, 0x01}), 1), Bytes{0x00});
}

TEST_F(SimBoardTest, WithheldRepliesNeverArriveEvenAfterRelease) {
    board.SetRegister(0x20, 1, 0x11);
    board.SetRegister(0x20, 2, 0x22);
    board.WithholdReplies(true);
    peer->WriteFrame(Record({0x01, 0x01, 0x00, 0x01}));
    ASSERT_TRUE(board.WaitForFrames(1, kWait));
    board.WithholdReplies(false);
    EXPECT_EQ(Ask(Record({0x01, 0x02, 0x00, 0x01}), 1), Bytes{0x22});
}

TEST_F(SimBoardTest, DelayedReplyLetsUnsolicitedBytesOvertakeIt) {
    board.SetRegister(0x20, 1, 0x11);
    board.DelayReplies(1000ms);
    ASSERT_TRUE(peer->WriteFrame(Record({0x01, 0x01, 0x00, 0x01})));
    ASSERT_TRUE(board.WaitForFrames(1, kWait));
    board.SendUnsolicited({0x41, 0x42});
    EXPECT_EQ(peer->ReadExactly(3, kWait), (Bytes{0x41, 0x42, 0x11}));
}

TEST_F(SimBoardTest, BabbleSendsTheRequestedNumberOfBytes) {
    board.Babble(1000, 7);
    EXPECT_EQ(peer->ReadExactly(1000, kWait).size(), 1000u);
    EXPECT_TRUE(board.WaitRepliesSent(kWait));
    EXPECT_EQ(board.BytesSent(), 1000u);
}

TEST_F(SimBoardTest, HangUpIsSeenByTheSlaveAndReconnectGivesAWorkingLine) {
    board.HangUp();
    EXPECT_TRUE(peer->WaitHangUp(kWait));
    ASSERT_TRUE(board.Reconnect());
    PtyPeer again(board.DevicePath());
    ASSERT_TRUE(again.IsOpen());
    ASSERT_TRUE(again.WriteFrame(Record({0x01, 0x00, 0x00, 0x01})));
    EXPECT_EQ(again.ReadExactly(1, kWait), Bytes{board.Register(0x20, 0)});
}

TEST_F(SimBoardTest, BoardKeepsAnsweringAfterTheProgramClosesAndReopens) {
    peer.reset();
    peer = std::make_unique<PtyPeer>(board.DevicePath());
    EXPECT_EQ(Ask(Record({0x0A, 0x01}), 1), Bytes{0x00});
}

// --- link ---

TEST(SimLink, LinkPointsAtTheDeviceFollowsReconnectAndGoesAwayOnStop) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("evbsim-link-" + std::to_string(::getpid()));
    SimBoard board(Unpaced());
    ASSERT_TRUE(board.Start());
    ASSERT_TRUE(board.Link(link.string()));
    EXPECT_EQ(fs::read_symlink(link).string(), board.DevicePath());
    ASSERT_TRUE(board.Reconnect());
    EXPECT_EQ(fs::read_symlink(link).string(), board.DevicePath());
    PtyPeer peer(link.string());
    ASSERT_TRUE(peer.WriteFrame(Record({0x0A, 0x01})));
    EXPECT_EQ(peer.ReadExactly(1, kWait), Bytes{0x00});
    board.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(SimLink, LinkNeverReplacesARegularFile) {
    namespace fs = std::filesystem;
    const fs::path file = fs::temp_directory_path() / ("evbsim-file-" + std::to_string(::getpid()));
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    SimBoard board(Unpaced());
    ASSERT_TRUE(board.Start());
    EXPECT_FALSE(board.Link(file.string()));
    board.Stop();
    EXPECT_TRUE(fs::is_regular_file(file));
    fs::remove(file);
}

// --- pacing (order and completeness; the timing itself is measured in bench/) ---

TEST(SimPaced, PacedBoardDeliversEveryFrameAndReplyInOrder) {
    SimOptions o;
    o.baud = 115200;
    SimBoard board(o);
    ASSERT_TRUE(board.Start());
    PtyPeer peer(board.DevicePath());
    Bytes line;
    for (int i = 0; i < 40; ++i) {
        board.SetRegister(0x20, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i + 100));
        const Bytes f = Frame(Record({0x01, static_cast<std::uint8_t>(i), 0x00, 0x01}));
        line.insert(line.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(peer.Write(line));
    const Bytes replies = peer.ReadExactly(40, kWait);
    ASSERT_EQ(replies.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(replies[i], i + 100);
    EXPECT_EQ(board.FrameCount(), 40u);
}
