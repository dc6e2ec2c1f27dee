// The simulated board, driven through its pseudo-terminal with plain POSIX calls (no serial
// layer). Each row is a short script of what the program and the test do on the line, the
// reply bytes the program must read, and what the board must then show.

#include "sim/SimBoard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <poll.h>
#include <sstream>
#include <unistd.h>

using namespace std::chrono_literals;
using evbsim::SimBoard;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Hexadecimal bytes; "seq FROM COUNT STEP" (FROM hexadecimal) stands for a run of bytes.
Bytes Hex(std::istream&& in) {
    Bytes out;
    for (std::string t; in >> t;)
        if (t == "seq") {
            int from, n, step;
            in >> std::hex >> from >> std::dec >> n >> step;
            for (int i = 0; i < n; ++i)
                out.push_back(static_cast<std::uint8_t>(from + i * step));
        } else {
            out.push_back(static_cast<std::uint8_t>(std::stoi(t, nullptr, 16)));
        }
    return out;
}

// The program's end of the line (the board keeps the line raw).
struct Peer {
    explicit Peer(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
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

// "> BYTES" sends a frame and waits until the board has it; "raw BYTES" writes bytes as they
// are; "say BYTES" has the board send them unasked; the other words set the board up (all
// numbers hexadecimal).
void Play(SimBoard& board, Peer& peer, const std::string& script) {
    std::istringstream statements(script);
    for (std::string statement; std::getline(statements, statement, ';');) {
        std::istringstream in(statement);
        std::string op;
        in >> op;
        if (op == ">" || op == "raw" || op == "say") {
            Bytes bytes = Hex(std::move(in));
            if (op == ">") { // the leading record bytes: the frame is 0x3A, 18 record bytes, 0x40
                bytes.resize(18);
                bytes.insert(bytes.begin(), 0x3A);
                bytes.push_back(0x40);
            }
            const std::size_t before = board.FrameCount();
            if (op == "say") board.SendUnsolicited(bytes);
            ASSERT_TRUE(op == "say" || peer.Write(bytes));
            ASSERT_TRUE(op != ">" || board.WaitForFrames(before + 1, 5s)) << statement;
            continue;
        }
        int a = 0, b = 0;
        in >> std::hex >> a >> b;
        if (op == "info") { // the information record holds a, a + 1, ...
            std::array<std::uint8_t, 18> info{};
            std::iota(info.begin(), info.end(), static_cast<std::uint8_t>(a));
            board.SetInfoRecord(info);
        }
        if (op == "drop") board.DropReplies(a);
        if (op == "corrupt") board.CorruptReplies(a);
        if (op == "truncate") board.TruncateReplies(a, b);
        if (op == "withhold") board.WithholdReplies(a != 0);
        if (op == "delay") board.DelayReplies(std::chrono::milliseconds(a));
        if (op == "babble") board.Babble(static_cast<std::size_t>(a), static_cast<std::uint32_t>(b));
    }
}

// Hexadecimal bytes, ' ' between them.
std::string Join(const auto& bytes) {
    std::string s;
    char t[4];
    for (unsigned b : bytes) {
        std::snprintf(t, sizeof t, s.empty() ? "%02X" : " %02X", b);
        s += t;
    }
    return s;
}

// What the board shows under the names of "name=value, ..." (the values are not read);
// registers are rCHIP.REG.
std::string Show(const SimBoard& board, const std::string& shown) {
    const auto s = board.State();
    const auto hex = [](std::string t) { return static_cast<std::uint8_t>(std::stoi(t, nullptr, 16)); };
    std::istringstream in(shown);
    std::string out;
    for (std::string n, value; std::getline(in >> std::ws, n, '=') && std::getline(in, value, ',');) {
        std::string v;
        if (n == "frames") v = std::to_string(board.FrameCount());
        if (n == "garbage") v = std::to_string(s.garbageBytes);
        if (n == "sent") v = board.WaitRepliesSent(5s) ? std::to_string(board.BytesSent()) : "still queued";
        if (n == "mclk") v = Join(Bytes{s.mclkSource});
        if (n == "comm") v = Join(Bytes{s.commMode});
        if (n == "chip") v = Join(Bytes{s.chipAddress});
        if (n == "sdp") v = Join(s.sdp);
        if (n == "spdif") v = Join(Bytes{s.spdif.reset, s.spdif.txStop}) + " " + Join(s.spdif.format);
        if (n == "batch")
            v = std::to_string(s.batchOpen) + " " + std::to_string(s.batchDeclared) + " " +
                std::to_string(s.batchLines) + " " + std::to_string(s.batchesCompleted);
        if (n[0] == 'r' && n.size() == 6)
            v = Join(Bytes{board.Register(hex(n.substr(1, 2)), hex(n.substr(4, 2)))});
        out += (out.empty() ? "" : ", ") + n + "=" + v;
    }
    return out;
}

struct Exchange {
    const char* name;
    const char* script;
    const char* reply;
    const char* shown = ""; // what the board shows afterwards
};

class SimExchange : public ::testing::TestWithParam<Exchange> {};

TEST_P(SimExchange, ScriptGivesTheReplyAndTheBoardState) {
    SimBoard board(evbsim::SimOptions{.pace = false});
    ASSERT_TRUE(board.Start());
    Peer peer(board.DevicePath());
    Play(board, peer, GetParam().script);
    const Bytes reply = Hex(std::istringstream(GetParam().reply));
    EXPECT_EQ(Join(peer.Read(reply.size())), Join(reply));
    EXPECT_EQ(Show(board, GetParam().shown), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Board, SimExchange,
    ::testing::Values(
        Exchange{"oneByteAtATime", "raw 3A; raw 00; raw 1A; raw 05; raw seq 0 15 0; raw 40", "00",
                 "r20.1A=05"},
        Exchange{"markersNeedNoEscaping", "> 00 3A 40 3A 40 40 3A", "00", "r20.3A=40, garbage=0"},
        Exchange{"noise", "raw 00 FF 40 12; > 0A 03", "00", "frames=1, garbage=4, mclk=03"},
        // a start marker followed by fewer than 19 bytes before the real frame
        Exchange{"falseStart", "raw 3A 01 02; > 0A 03", "00", "frames=1, garbage=3, mclk=03"},
        Exchange{"twoFalseStarts", "raw 3A 3A 7F; > 0A 03", "00", "frames=1, garbage=3"},
        Exchange{"brokenFrame", "raw 3A seq 0 18 0 41; > 0A 03", "00", "frames=1, garbage=20"},
        // unset registers read as their power-on values, 00 and then each 0x35 above the last
        // (the fault rows read them too); the noise follows the replies
        Exchange{"read76ThenAll256AtPowerOnThenBabble", "> 01 00 00 4C; > 01 00 01 00; babble 3E8 7",
                 "00 seq 46 75 53 00 seq 46 255 53", "sent=1332"},
        Exchange{"boardInfo", "info A0; > 58", "seq A0 18 1"},
        Exchange{"eachChipAddressHasItsOwnRegisters", "> 00 10 11; > 0D 30; > 00 10 99; > 01 10 00 01",
                 "00 00 00 99", "r20.10=11, r30.10=99, chip=30"},
        Exchange{"setUpCommands", "> 0E 01; > 0A 03; > 02 01 01; > 09 01; > 0C 01; > 08 00 1 2 3 4 5 6 7 8",
                 "seq 0 6 0", "comm=01, mclk=03, sdp=01 01 01, spdif=01 01 01 02 03 04 05 06 07 08"},
        Exchange{"batch", "> 04 00 03; > 05 00 21 80; > 05 07 01 2C; > 05 0B 01 02; > 06", "seq 0 5 0",
                 "batch=0 3 3 1, r20.21=80"},
        Exchange{"droppedReply", "drop 1; > 01 01 00 01; > 01 02 00 01", "7B"},
        Exchange{"corruptedReplyIsInverted", "corrupt 1; > 01 01 00 01; > 01 01 00 01", "B9 46"},
        Exchange{"truncatedReplyThenTheNextAck", "truncate 1 3; > 58; > 0A 01", "00 01 02 00"},
        Exchange{"withheldReplyNeverArrives", "withhold 1; > 01 01 00 01; withhold 0; > 01 02 00 01", "7B"},
        Exchange{"delayedReplyOvertakenByUnsolicitedBytes", "delay 3E8; > 01 01 00 01; say 41 42",
                 "41 42 46"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimBoard, HangUpReconnectReopenAndTheLinkThatFollowsTheDevice) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("evbsim-link-" + std::to_string(::getpid()));
    SimBoard board(evbsim::SimOptions{.pace = false});
    ASSERT_TRUE(board.Start());
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
        Play(board, peer, "> 0A 01");
        EXPECT_EQ(peer.Read(1), Bytes{0x00});
    }
    // A real file is never replaced by the link, and the reason is "it exists".
    const fs::path file = link.string() + "-file";
    std::ofstream(file) << "mine";
    EXPECT_FALSE(board.Link(file.string()));
    EXPECT_EQ(errno, EEXIST);
    board.Stop();
    EXPECT_TRUE(fs::is_regular_file(file));
    fs::remove(file);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

} // namespace
