// The simulated board, driven through its pseudo-terminal with plain POSIX calls (no serial
// layer): one row per exchange of frames and the reply bytes and state they leave.

#include "sim/SimBoard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <set>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using evbsim::SimBoard;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Padded(Bytes leading) {
    leading.resize(18);
    return leading;
}

Bytes Frame(const Bytes& leading) {
    Bytes f = Padded(leading);
    f.insert(f.begin(), 0x3A);
    f.push_back(0x40);
    return f;
}

Bytes Received(const SimBoard& b, std::size_t i = 0) {
    const auto r = b.Frames().at(i).record;
    return Bytes(r.begin(), r.end());
}

// The program's end of the line.
struct Peer {
    explicit Peer(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ~Peer() { ::close(fd); }
    // Waits for up to n bytes; with n == 0, for the hang-up (POLLHUP, EIO or end of file).
    Bytes Read(std::size_t n) {
        Bytes got;
        std::uint8_t buf[512];
        for (pollfd p{fd, POLLIN, 0}; (n == 0 || got.size() < n) && ::poll(&p, 1, 5000) > 0;) {
            const ssize_t r = ::read(fd, buf, n ? std::min(sizeof buf, n - got.size()) : 1);
            if (r > 0)
                got.insert(got.end(), buf, buf + r);
            else if (r == 0 || errno != EAGAIN)
                return n ? got : Bytes{1};
        }
        return got;
    }
    bool Write(const Bytes& b) { return ::write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
    int fd;
};

struct Line {
    SimBoard& board;
    Peer& peer;
    void Send(const Bytes& leading) { // one frame, received whole
        const std::size_t before = board.FrameCount();
        ASSERT_TRUE(peer.Write(Frame(leading)));
        ASSERT_TRUE(board.WaitForFrames(before + 1, 5s));
    }
};

struct Exchange {
    const char* name;
    std::function<void(Line&)> act;
    Bytes reply;
    std::function<void(const SimBoard&)> check = [](const SimBoard&) {};
};

class SimExchange : public ::testing::TestWithParam<Exchange> {};

TEST_P(SimExchange, FramesGiveTheReplyAndTheState) {
    SimBoard board(evbsim::SimOptions{.pace = false});
    ASSERT_TRUE(board.Start());
    Peer peer(board.DevicePath());
    Line line{board, peer};
    GetParam().act(line);
    EXPECT_EQ(peer.Read(GetParam().reply.size()), GetParam().reply);
    GetParam().check(board);
}

Exchange Resync(const char* name, Bytes garbage) {
    return {name,
            [garbage](Line& l) {
                l.peer.Write(garbage);
                l.Send({0x0A, 0x03});
            },
            {0x00},
            [n = garbage.size()](const SimBoard& b) {
                EXPECT_EQ(b.FrameCount(), 1u);
                EXPECT_EQ(Received(b), Padded({0x0A, 0x03}));
                EXPECT_EQ(b.State().mclkSource, 3);
                EXPECT_EQ(b.State().garbageBytes, n);
            }};
}

Bytes Counting(int from, int n, int step) {
    Bytes b;
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(from + i * step));
    return b;
}

void SetRegisters(SimBoard& b, const Bytes& values) {
    for (std::size_t r = 0; r < values.size(); ++r)
        b.SetRegister(0x20, static_cast<std::uint8_t>(r), values[r]);
}

INSTANTIATE_TEST_SUITE_P(
    Board, SimExchange,
    ::testing::Values(
        Exchange{"oneByteAtATime",
                 [](Line& l) {
                     for (std::uint8_t b : Frame({0x00, 0x1A, 0x05}))
                         l.peer.Write({b});
                 },
                 {0x00},
                 [](const SimBoard& b) {
                     EXPECT_EQ(Received(b), Padded({0x00, 0x1A, 0x05}));
                 }},
        Exchange{"markersNeedNoEscaping",
                 [](Line& l) {
                     l.Send({0x00, 0x3A, 0x40, 0x3A, 0x40, 0x40, 0x3A});
                 },
                 {0x00},
                 [](const SimBoard& b) {
                     EXPECT_EQ(Received(b), Padded({0x00, 0x3A, 0x40, 0x3A, 0x40, 0x40, 0x3A}));
                     EXPECT_EQ(b.Register(0x20, 0x3A), 0x40);
                     EXPECT_EQ(b.State().garbageBytes, 0u);
                 }},
        Resync("noise", {0x00, 0xFF, 0x40, 0x12}),
        // a start marker followed by fewer than 19 bytes before the real frame
        Resync("falseStart", {0x3A, 0x01, 0x02}), Resync("twoFalseStarts", {0x3A, 0x3A, 0x7F}),
        Resync("brokenFrame",
               [] {
                   Bytes b(20, 0);
                   b.front() = 0x3A, b.back() = 0x41;
                   return b;
               }()),
        Exchange{"readAll256FromTheStart",
                 [](Line& l) {
                     SetRegisters(l.board, Counting(255, 256, -1));
                     l.Send({0x01, 0x00, 0x01, 0x00});
                 },
                 Counting(255, 256, -1)},
        Exchange{"read76ThenTheNextAck",
                 [](Line& l) {
                     SetRegisters(l.board, Counting(7, 77, 3));
                     l.Send({0x01, 0x00, 0x00, 0x4C});
                     l.Send({0x0A, 0x01});
                 },
                 [] {
                     Bytes b = Counting(7, 76, 3);
                     b.push_back(0);
                     return b;
                 }()},
        Exchange{"boardInfo",
                 [](Line& l) {
                     std::array<std::uint8_t, 18> info;
                     for (std::size_t i = 0; i < info.size(); ++i)
                         info[i] = static_cast<std::uint8_t>(0xA0 + i);
                     l.board.SetInfoRecord(info);
                     l.Send({0x58});
                 },
                 Counting(0xA0, 18, 1)},
        Exchange{"writeThenRead",
                 [](Line& l) {
                     l.Send({0x00, 0x33, 0xC4});
                     l.Send({0x01, 0x33, 0x00, 0x01});
                 },
                 {0x00, 0xC4}},
        Exchange{"eachChipAddressHasItsOwnRegisters",
                 [](Line& l) {
                     l.Send({0x00, 0x10, 0x11}); // chip 0x20, the power-on address
                     l.Send({0x0D, 0x30});
                     l.Send({0x00, 0x10, 0x99});
                     l.Send({0x01, 0x10, 0x00, 0x01});
                 },
                 {0, 0, 0, 0x99},
                 [](const SimBoard& b) {
                     EXPECT_EQ(b.Register(0x20, 0x10), 0x11);
                     EXPECT_EQ(b.Register(0x30, 0x10), 0x99);
                     EXPECT_EQ(b.State().chipAddress, 0x30);
                 }},
        Exchange{"setUpCommands",
                 [](Line& l) {
                     for (const Bytes& r :
                          {Bytes{0x0E, 0x01}, Bytes{0x0A, 0x03}, Bytes{0x02, 0x01, 0x01}, Bytes{0x09, 0x01},
                           Bytes{0x0C, 0x01}, Bytes{0x08, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}})
                         l.Send(r);
                 },
                 Bytes(6, 0),
                 [](const SimBoard& b) {
                     const auto s = b.State();
                     EXPECT_EQ(s.commMode, 1);
                     EXPECT_EQ(s.mclkSource, 3);
                     EXPECT_EQ(s.sdp, (std::array<std::uint8_t, 3>{1, 1, 1}));
                     EXPECT_EQ(s.spdif.reset + s.spdif.txStop, 2);
                     EXPECT_EQ(s.spdif.format, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
                 }},
        Exchange{"batch",
                 [](Line& l) {
                     l.Send({0x04, 0x00, 0x03});
                     EXPECT_TRUE(l.board.State().batchOpen);
                     for (const Bytes& r : {Bytes{0x05, 0x00, 0x21, 0x80}, Bytes{0x05, 0x07, 0x01, 0x2C},
                                            Bytes{0x05, 0x0B, 0x01, 0x02}, Bytes{0x06}})
                         l.Send(r);
                 },
                 Bytes(5, 0),
                 [](const SimBoard& b) {
                     const auto s = b.State();
                     EXPECT_FALSE(s.batchOpen);
                     EXPECT_EQ(s.batchDeclared, 3);
                     EXPECT_EQ(s.batchLines, 3u);
                     EXPECT_EQ(s.batchesCompleted, 1u);
                     EXPECT_EQ(b.Register(0x20, 0x21), 0x80);
                 }},
        Exchange{"droppedReply",
                 [](Line& l) {
                     SetRegisters(l.board, {0, 0x11, 0x22});
                     l.board.DropReplies(1);
                     l.Send({0x01, 0x01, 0x00, 0x01});
                     l.Send({0x01, 0x02, 0x00, 0x01});
                 },
                 {0x22}},
        Exchange{"corruptedReplyIsInverted",
                 [](Line& l) {
                     SetRegisters(l.board, {0, 0x0F});
                     l.board.CorruptReplies(1);
                     l.Send({0x01, 0x01, 0x00, 0x01});
                     l.Send({0x01, 0x01, 0x00, 0x01});
                 },
                 {0xF0, 0x0F}},
        Exchange{"truncatedReplyThenTheNextAck",
                 [](Line& l) {
                     l.board.TruncateReplies(1, 3);
                     l.Send({0x58});
                     l.Send({0x0A, 0x01});
                 },
                 {0x00, 0x01, 0x02, 0x00}},
        Exchange{"withheldReplyNeverArrives",
                 [](Line& l) {
                     SetRegisters(l.board, {0, 0x11, 0x22});
                     l.board.WithholdReplies(true);
                     l.Send({0x01, 0x01, 0x00, 0x01});
                     l.board.WithholdReplies(false);
                     l.Send({0x01, 0x02, 0x00, 0x01});
                 },
                 {0x22}},
        Exchange{"delayedReplyOvertakenByUnsolicitedBytes",
                 [](Line& l) {
                     SetRegisters(l.board, {0, 0x11});
                     l.board.DelayReplies(1000ms);
                     l.Send({0x01, 0x01, 0x00, 0x01});
                     l.board.SendUnsolicited({0x41, 0x42});
                 },
                 {0x41, 0x42, 0x11}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimBoard, PowerOnRegistersDifferAndBabbleSendsWhatWasAsked) {
    SimBoard board(evbsim::SimOptions{.pace = false});
    ASSERT_TRUE(board.Start());
    Peer peer(board.DevicePath());
    ASSERT_TRUE(peer.Write(Frame({0x01, 0x00, 0x00, 0x10})));
    const Bytes reply = peer.Read(16);
    EXPECT_GT(std::set<std::uint8_t>(reply.begin(), reply.end()).size(), 8u);
    board.Babble(1000, 7);
    EXPECT_EQ(peer.Read(1000).size(), 1000u);
    EXPECT_TRUE(board.WaitRepliesSent(5s));
    EXPECT_EQ(board.BytesSent(), 1016u);
}

TEST(SimBoard, HangUpReconnectReopenAndTheLinkThatFollowsTheDevice) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("evbsim-link-" + std::to_string(::getpid()));
    const fs::path file = link.string() + ".file";
    std::fclose(std::fopen(file.c_str(), "w"));
    SimBoard board(evbsim::SimOptions{.pace = false});
    ASSERT_TRUE(board.Start());
    EXPECT_FALSE(board.Link(file.string())) << "a regular file is never replaced";
    ASSERT_TRUE(board.Link(link.string()));
    EXPECT_EQ(fs::read_symlink(link).string(), board.DevicePath());
    {
        Peer peer(board.DevicePath());
        board.HangUp();
        EXPECT_FALSE(peer.Read(0).empty()) << "the hang-up is seen";
    }
    ASSERT_TRUE(board.Reconnect());
    EXPECT_EQ(fs::read_symlink(link).string(), board.DevicePath());
    for (int open = 0; open < 2; ++open) { // the board answers a program that closed and reopened
        Peer peer(link.string());
        ASSERT_TRUE(peer.Write(Frame({0x0A, 0x01})));
        EXPECT_EQ(peer.Read(1), Bytes{0x00});
    }
    board.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_regular_file(file));
    fs::remove(file);
}

// Order and completeness only: the timing itself is measured in bench/.
TEST(SimBoard, PacedBoardDeliversEveryFrameAndReplyInOrder) {
    SimBoard board(evbsim::SimOptions{.baud = 115200});
    ASSERT_TRUE(board.Start());
    Peer peer(board.DevicePath());
    Bytes line;
    for (int i = 0; i < 40; ++i) {
        board.SetRegister(0x20, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i + 100));
        const Bytes f = Frame({0x01, static_cast<std::uint8_t>(i), 0x00, 0x01});
        line.insert(line.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(peer.Write(line));
    EXPECT_EQ(peer.Read(40), Counting(100, 40, 1));
    EXPECT_EQ(board.FrameCount(), 40u);
}

} // namespace
