// evbctl against a board behind the real ser2net on the loopback address, through its raw TCP
// port and its RFC 2217 port: what reaches the board, what comes back, and how a connection
// that fails or ends is told.

#include "BoardLink.h" // Records
#include "cli/EvbCtl.h"
#include "sim/SimBoard.h"
#include "tests/Ser2net.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct Outcome { int code; std::string out, err; };

class EvbCtlNet : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(board.Start() && server.Start(board.DevicePath()));
    }
    std::string Port() const { return GetParam() ? server.Rfc2217() : server.Raw(); }
    Outcome Ctl(std::vector<std::string> args, std::string port = "") {
        args.insert(args.begin(), {"--port", port.empty() ? Port() : port});
        std::ostringstream out, err;
        return {evbctl::Run(args, out, err), out.str(), err.str()}; // evaluated left to right
    }
    evbsim::SimBoard board{evbsim::SimOptions{.baud = 19200, .pace = false}};
    Ser2net server;
};

// 512 lines that carry every byte value to the board as register and as value, leaving register
// r at r; the dump brings every value back.
TEST_P(EvbCtlNet, CommandsAndEveryByteValueCrossBothWays) {
    std::string lines, dump = "    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
    std::vector<std::array<std::uint8_t, 18>> want{{0x58}, {0x04, 0x00, 0x01}};
    char text[64];
    for (int i = 0; i < 512; ++i) {
        const int r = i & 0xFF, v = i < 256 ? 0xFF - r : r;
        lines += (std::snprintf(text, sizeof text, ":W%02X%02X@\n", r, v), text);
        want.push_back({0x05, 0x00, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(v)});
        if (i < 256) dump += (std::snprintf(text, sizeof text, &"\n%02X: %02X"[r % 16 ? 6 : 0], r, r), text);
    }
    want.insert(want.end(), {{0x06}, {0x01, 0x00, 0x01, 0x00}, {0x01, 0xFF, 0x00, 0x01}, {0x00, 0xFF, 0x00}});
    const TempDir dir;
    EXPECT_EQ(Ctl({"info"}).out, ".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n");
    EXPECT_EQ(Ctl({"send", dir.write("all.txt", lines)}).code, 0);
    EXPECT_EQ(Ctl({"dump"}).out, dump + "\n");
    EXPECT_EQ(Ctl({"read", "0xFF"}).out, "ReadReg:   Reg0xFF = 0xFF\n");
    EXPECT_EQ(Ctl({"write", "0xFF", "0x00"}).out, "WriteReg:   Reg0xFF = 0x00\n");
    EXPECT_TRUE(Records(board) == want);
    // A second client while the port serves one: turned away.
    const int first = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(static_cast<std::uint16_t>(std::stoi(Port().substr(Port().rfind(':') + 1)))),
                  {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::connect(first, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const Outcome second = Ctl({"info"});
    ::close(first);
    EXPECT_EQ(second.code, 3);
    EXPECT_TRUE(std::regex_search(second.err, std::regex("in use: 127.0.0.1:\\d+ serves another client"))) << second.err;
}

TEST_P(EvbCtlNet, ALostConnectionDuringASendEndsWithExit1) {
    std::string lines;
    for (int i = 0; i < 512; ++i)
        lines += ":W0101@\n";
    const TempDir dir;
    board.DelayReplies(200ms);
    std::jthread killer([&] {
        if (board.WaitForFrames(20, 10s)) server.Stop(SIGKILL);
    });
    const Outcome r = Ctl({"send", dir.write("long.txt", lines)});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(std::regex_search(r.err, std::regex("the connection to .*://127.0.0.1:\\d+ was lost"))) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Ser2net, EvbCtlNet, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Rfc2217" : "RawTcp"; });

// A port that does not open: exit 3 and the reason.
TEST_F(EvbCtlNet, AFailedConnectionEndsWithExit3AndItsReason) {
    const std::pair<std::string, const char*> cases[] = {
        {"tcp://127.0.0.1:" + std::to_string(Ser2net::FreePort()), "127.0.0.1:\\d+: Connection refused"},
        {"rfc2217://nosuch.invalid:2002", "nosuch.invalid: "},
        // A raw port asked for RFC 2217 says nothing back: refused after the time-out, not a hang.
        {server.Raw().replace(0, 3, "rfc2217"), "did not agree to RFC 2217 within 3 s"},
    };
    for (const auto& [port, reason] : cases) {
        const Outcome r = Ctl({"info"}, port);
        EXPECT_EQ(r.code, 3) << port;
        EXPECT_TRUE(std::regex_search(r.err, std::regex(reason))) << r.err;
    }
}

} // namespace
