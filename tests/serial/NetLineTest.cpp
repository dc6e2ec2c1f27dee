// The Telnet / COM-PORT-OPTION codec of network ports, fed the server's bytes in the pieces
// they may arrive in, and the network port names. The line itself is tested against ser2net
// (tests/cli/test_EvbCtlNet.cpp).

#include "serial/TNetLine.h"
#include "serial/TTelnetCodec.h"

#include <gtest/gtest.h>

using namespace TalonComm;

namespace {

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

struct CodecCase {
    const char* name;
    std::vector<std::string> chunks; // from the server, in the pieces they arrive in
    std::string data = "", reply = "";
    std::uint32_t modem = 0;
    TLineCounters counts{};
    bool agreed = false, refused = false;
};

class TelnetDecoding : public ::testing::TestWithParam<CodecCase> {};

TEST_P(TelnetDecoding, DataAnswersAndReportsComeOutWhateverTheChunks) {
    const CodecCase& c = GetParam();
    TTelnetCodec codec;
    codec.Hello();
    std::string data, reply;
    for (const std::string& chunk : c.chunks)
        codec.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(), data, reply);
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(codec.ModemStatus(), c.modem);
    const auto counts = [](const TLineCounters& n) {
        return std::vector<std::uint32_t>{n.Cts, n.Dsr, n.Ring, n.Rlsd, n.Overrun, n.Parity, n.Frame, n.Break};
    };
    EXPECT_EQ(counts(codec.Counters()), counts(c.counts));
    EXPECT_EQ(codec.ComPortAgreed(), c.agreed);
    EXPECT_EQ(codec.ComPortRefused(), c.refused);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, TelnetDecoding, ::testing::Values(
    CodecCase{"plainData", {B({0x00, 0x3A, 0x40, 0xFE})}, B({0x00, 0x3A, 0x40, 0xFE})},
    CodecCase{"doubledIacSplitAcrossChunks", {B({1, 255}), B({255, 2})}, B({1, 255, 2})},
    // What ser2net says first: the options already asked for need no answer, the rest do.
    CodecCase{"serverOpening", {B({255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44})},
              "", B({255, 253, 3, 255, 251, 3, 255, 254, 1}), 0, {}, true},
    CodecCase{"negotiationSplitAfterEachByte", {B({255}), B({253}), B({44})}, "", "", 0, {}, true},
    CodecCase{"unknownOptionsRefused", {B({255, 253, 24, 255, 251, 31})}, "", B({255, 252, 24, 255, 254, 31})},
    CodecCase{"comPortRefused", {B({255, 254, 44})}, "", B({255, 252, 44}), 0, {}, false, true},
    CodecCase{"modemState", {B({255, 250, 44, 107, 0xB1, 255, 240})}, "", "", 0xB0, {.Cts = 1, .Dsr = 1, .Rlsd = 1}},
    CodecCase{"modemStateDeltaWithoutChangeCountsThePulse", {B({255, 250, 44, 107, 0x04, 255, 240})}, "", "", 0, {.Ring = 1}},
    CodecCase{"lineStateErrorsAndBreak", {B({255, 250, 44, 106, 0x1E, 255, 240, 255, 250, 44, 106, 0x08, 255, 240})}, "", "", 0,
              {.Frame = 2, .Overrun = 1, .Parity = 1, .Break = 1}},
    CodecCase{"reportSplitWithDataAround", {B({9, 255, 250, 44}), B({107, 0x20, 255}), B({240, 10})}, B({9, 10}), "", 0x20, {.Dsr = 1}},
    CodecCase{"doubledIacInsideAReport", {B({255, 250, 44, 107, 255, 255, 255, 240})}, "", "", 0xF0,
              {.Cts = 1, .Dsr = 1, .Ring = 1, .Rlsd = 1}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(TelnetEncoding, DataAndRequestsDoubleEveryIac) {
    std::string out;
    TTelnetCodec::Escape(B({0, 255, 1, 255}).data(), 4, out);
    EXPECT_EQ(out, B({0, 255, 255, 1, 255, 255}));
    EXPECT_EQ(TTelnetCodec::BaudRate(19200), B({255, 250, 44, 1, 0, 0, 0x4B, 0x00, 255, 240}));
    EXPECT_EQ(TTelnetCodec::BaudRate(0xFF00FF), B({255, 250, 44, 1, 0, 255, 255, 0, 255, 255, 255, 240}));
    EXPECT_EQ(TTelnetCodec::Request(Telnet::cpSetParity, 3), B({255, 250, 44, 3, 3, 255, 240}));
    EXPECT_EQ(TTelnetCodec().Hello(), B({255, 251, 0, 255, 253, 0, 255, 251, 44}));
}

TEST(NetPortName, FormsAndTheirFaults) {
    const struct {
        const char* name;
        bool network;
        const char* host;
        const char* port;
        const char* error;
    } cases[] = {
        {"/dev/ttyUSB0", false, "", "", ""},
        {"tcp://lab-rack:2001", true, "lab-rack", "2001", ""},
        {"RFC2217://192.168.1.9:2002/", true, "192.168.1.9", "2002", ""},
        {"rfc2217://[::1]:2002", true, "::1", "2002", ""},
        {"tcp://::1:2002", true, "", "", "HOST:PORT"},
        {"tcp://:2001", true, "", "", "host is missing"},
        {"tcp://host:http", true, "host", "http", "1 to 65535"},
        {"tcp://[::1]2002", true, "", "", "[ADDRESS]:PORT"},
    };
    for (const auto& c : cases) {
        TNetLine::TAddress a;
        std::string error;
        EXPECT_EQ(TNetLine::Parse(c.name, a, error), c.network) << c.name;
        if (!c.network) continue;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        if (*c.error) continue;
        EXPECT_EQ(a.Host, c.host);
        EXPECT_EQ(a.Port, c.port);
        EXPECT_EQ(a.Kind, c.name[0] == 't' ? TNetLine::TKind::Raw : TNetLine::TKind::Rfc2217);
    }
}

} // namespace
