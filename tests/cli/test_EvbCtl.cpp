// evbctl run in-process against a simulated board on a real pseudo-terminal.

#include "cli/EvbCtl.h"
#include "serial/TLinePacer.h"
#include "sim/SimBoard.h"
#include "tests/serial/FakeSysfs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <csignal>
#include <fstream>
#include <regex>
#include <thread>
#include <sstream>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Ctl(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = evbctl::Run(args, out, err);
    return {code, out.str(), err.str()};
}

evbsim::SimOptions Unpaced() {
    evbsim::SimOptions o;
    o.pace = false;
    return o;
}

class EvbCtlTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(board.Start()); }
    Result On(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", board.DevicePath()});
        return Ctl(args);
    }
    evbsim::SimBoard board{Unpaced()};
};

const std::string kColon = "\xEF\xBC\x9A";

TEST_F(EvbCtlTest, InfoPrintsTheBoardInformationLine) {
    std::array<std::uint8_t, 18> info{};
    for (std::size_t i = 0; i < 18; ++i)
        info[i] = static_cast<std::uint8_t>(i);
    board.SetInfoRecord(info);
    const Result r = On({"info"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, ".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n");
}

class EvbCtlNumberForms : public EvbCtlTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EvbCtlNumberForms, ReadAcceptsEveryNumberForm) {
    board.SetRegister(0x20, 0x1A, 0x05);
    const Result r = On({"read", GetParam()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "ReadReg:   Reg0x1A = 0x05\n");
}

INSTANTIATE_TEST_SUITE_P(Numbers, EvbCtlNumberForms, ::testing::Values("0x1A", "$1A", "26", "x1a", "0X1a"));

TEST_F(EvbCtlTest, WriteSetsTheRegisterAndPrintsTheConsoleLine) {
    const Result r = On({"write", "0x1A", "5"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "WriteReg:   Reg0x1A = 0x05\n");
    EXPECT_EQ(board.Register(0x20, 0x1A), 0x05);
}

TEST_F(EvbCtlTest, DumpPrintsAHeaderAndSixteenRegistersPerRow) {
    for (int i = 0; i < 20; ++i)
        board.SetRegister(0x20, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(0xE0 + i));
    const Result r = On({"dump", "20"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
                     "00: E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF\n"
                     "10: F0 F1 F2 F3\n");
    EXPECT_EQ(board.Frames().at(0).record[3], 20);
}

TEST_F(EvbCtlTest, DumpWithoutCountShowsAll256Registers) {
    board.SetRegister(0x20, 0xFF, 0xAB);
    const Result r = On({"dump"});
    EXPECT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> all;
    for (std::string l; std::getline(lines, l);)
        all.push_back(l);
    ASSERT_EQ(all.size(), 17u);
    EXPECT_EQ(all[16].substr(0, 3), "F0:");
    EXPECT_EQ(all[16].substr(all[16].size() - 3), " AB");
}

struct SetUpCase {
    std::vector<std::string> args;
    std::string line;
    std::function<bool(const evbsim::BoardSnapshot&)> check;
};

class EvbCtlSetUp : public EvbCtlTest, public ::testing::WithParamInterface<SetUpCase> {};

TEST_P(EvbCtlSetUp, CommandReachesTheBoardAndPrintsItsLine) {
    const Result r = On(GetParam().args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, GetParam().line);
    EXPECT_TRUE(GetParam().check(board.State()));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EvbCtlSetUp,
    ::testing::Values(
        SetUpCase{{"address", "0xC6"},
                  "Set the CHIP Address:0xC6\n",
                  [](auto& s) { return s.chipAddress == 0xC6; }},
        SetUpCase{{"mode", "spi"}, "Set the COMM Mode:SPI Mode\n", [](auto& s) { return s.commMode == 1; }},
        SetUpCase{
            {"mclk", "amclk"}, "Set the MCLK:Use SPDIF AMCLK\n", [](auto& s) { return s.mclkSource == 3; }},
        SetUpCase{{"mclk", "osc"},
                  "Set the MCLK:Use Oscillator Clock\n",
                  [](auto& s) { return s.mclkSource == 1; }},
        SetUpCase{
            {"sdp", "2", "to-codec"}, "Set the SDP2:Spdif=>Codec\n", [](auto& s) { return s.sdp[1] == 1; }},
        SetUpCase{{"sdp", "SDP1", "to-spdif"}, "Set the SDP1:Codec=>Spdif\n", [](auto& s) {
                      return s.sdp[0] == 0;
                  }}));

TEST_F(EvbCtlTest, SendTransmitsTheShippedExampleAsOneBatch) {
    const Result r = On({"send", std::string(EVB_SOURCE_DIR) + "/presets/examples/example.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "SET_TXT_LENGTH" + kColon + "9\nSend the Confuguration  \n");
    const auto s = board.State();
    EXPECT_EQ(s.batchesCompleted, 1u);
    EXPECT_EQ(s.batchLines, 8u); // nine lines, one of them a C line
    EXPECT_EQ(board.Register(0x20, 0x0A), 0x3C);
}

// Files that used to put on the board what their author never wrote.
struct UntrustedCase {
    const char* name;
    std::string text;
    int code;
    std::string diagnostic; // a line of stderr ("FILE" stands for the path)
    std::vector<std::pair<std::uint8_t, std::uint8_t>> writes; // the batch's writes, in order
};

class EvbCtlUntrustedFile : public EvbCtlTest, public ::testing::WithParamInterface<UntrustedCase> {};

std::string Repeat(const std::string& line, int times) {
    std::string s;
    for (int i = 0; i < times; ++i)
        s += line;
    return s;
}

TEST_P(EvbCtlUntrustedFile, SendsOnlyWhatTheFileSays) {
    const UntrustedCase& c = GetParam();
    const auto file = std::filesystem::temp_directory_path() /
                      ("evbctl-" + std::string(c.name) + "-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(file, std::ios::binary) << c.text;
    const Result r = On({"send", file.string()});
    std::filesystem::remove(file);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (c.diagnostic.empty()) {
        EXPECT_EQ(r.err, "");
    } else {
        const std::string diagnostic = file.string() + c.diagnostic.substr(4);
        EXPECT_NE(r.err.find(diagnostic + "\n"), std::string::npos) << r.err;
    }
    const auto frames = board.Frames();
    if (c.code != 0) {
        EXPECT_TRUE(frames.empty()) << "a file with errors sent " << frames.size() << " frames";
        EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << r.err;
        return;
    }
    ASSERT_EQ(frames.size(), c.writes.size() + 2);
    for (std::size_t i = 0; i < c.writes.size(); ++i) {
        EXPECT_EQ(frames[i + 1].record[2], c.writes[i].first) << i;
        EXPECT_EQ(frames[i + 1].record[3], c.writes[i].second) << i;
    }
}

const std::string kGainLine = ":W1A2B@ right ADC gain\r\n";

INSTANTIATE_TEST_SUITE_P(
    Why, EvbCtlUntrustedFile,
    ::testing::Values(
        // 178 lines fill 4094 bytes; the buffer ends in ":W" of line 179.
        UntrustedCase{
            "cutByTheBuffer", Repeat(kGainLine, 179), 0,
            "FILE:179: warning: line cut off by the 4096-byte buffer limit: it is neither sent nor counted",
            std::vector<std::pair<std::uint8_t, std::uint8_t>>(178, {0x1A, 0x2B})},
        UntrustedCase{"cutByANul",
                      std::string(":W1A2B@\n:W1\0A2B@\n", 17),
                      0,
                      "FILE:2: warning: line cut off by a NUL byte: it is neither sent nor counted",
                      {{0x1A, 0x2B}}},
        UntrustedCase{"digitMissing",
                      ":W008@\n",
                      4,
                      "FILE:1: error: '@' after only 3 hexadecimal digits: a W line needs four",
                      {}},
        UntrustedCase{"letterForDigit",
                      ":W0o80@\n",
                      4,
                      "FILE:1: error: 'o' in column 4 is not a hexadecimal digit",
                      {}},
        UntrustedCase{"blankBeforeDigits",
                      ":W 1A2B@\n",
                      4,
                      "FILE:1: error: ' ' in column 3 is not a hexadecimal digit",
                      {}},
        UntrustedCase{
            "byteOrderMark", "\xEF\xBB\xBF:W1A2B@\r\n:W1C2D@\r\n", 0, "", {{0x1A, 0x2B}, {0x1C, 0x2D}}},
        UntrustedCase{
            "blankLineInTheMiddle",
            ":W1A2B@\r\n\r\n:W1C2D@\r\n",
            0,
            "FILE:2: warning: the command block ends here (the line does not begin with ':'): 1 command "
            "line after it is not sent",
            {{0x1A, 0x2B}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EvbCtlTest, DryRunPrintsTheFramesSendWrites) {
    const std::string example = std::string(EVB_SOURCE_DIR) + "/presets/examples/example.txt";
    // No port is opened: the one named does not exist.
    const Result dry = Ctl({"--port", "/nonexistent/tty", "send", "--dry-run", example});
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(dry.out.substr(0, 60), "3A 04 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 40\n");
    ASSERT_EQ(On({"send", example}).code, 0);
    std::string sent;
    for (const auto& f : board.Frames()) {
        sent += "3A";
        for (std::uint8_t b : f.record) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            sent += hex;
        }
        sent += " 40\n";
    }
    EXPECT_EQ(dry.out, sent);
}

TEST(EvbCtlCheck, SummarisesEachFileAndGivesExitFourForErrors) {
    const std::string example = std::string(EVB_SOURCE_DIR) + "/presets/examples/example.txt";
    const Result clean = Ctl({"check", example});
    EXPECT_EQ(clean.code, 0) << clean.err;
    EXPECT_EQ(clean.out, example + ": 9 command lines, 6 writes, 1 delay, 1 G step, 1 C line, 10 frames, "
                                   "104 ms on the wire at 19200 baud\n");
    const auto bad =
        std::filesystem::temp_directory_path() / ("evbctl-bad-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(bad) << ":W0102@\n:W01@\n";
    const Result r = Ctl({"--baud", "115200", "check", example, bad.string()});
    std::filesystem::remove(bad);
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.out.find(bad.string() +
                         ":2: error: '@' after only 2 hexadecimal digits: a W line needs four\n" +
                         bad.string() +
                         ": 2 command lines, 2 writes, 0 delays, 0 G steps, 0 C lines, 4 frames, "
                         "7 ms on the wire at 115200 baud (not sendable: 1 error)\n"),
              std::string::npos)
        << r.out;
}

TEST_F(EvbCtlTest, BoardThatNeverAnswersGivesExitOne) {
    board.WithholdReplies(true);
    const Result r = On({"--timeout", "200", "read", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("did not answer"), std::string::npos) << r.err;
}

TEST_F(EvbCtlTest, ShortAnswerToADumpGivesExitOneAndSaysHowMuchCame) {
    board.TruncateReplies(1, 10);
    const Result r = On({"--timeout", "300", "dump", "32"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("10 of 32"), std::string::npos) << r.err;
}

TEST(EvbCtlSimulate, SimulateRunsAgainstABoardInsideEvbctl) {
    const Result r = Ctl({"--simulate", "--baud", "115200", "info"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind(".....EVBINFO:", 0), 0u) << r.out;
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
};

class EvbCtlUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(EvbCtlUsage, BadInvocationGivesExitTwoAndTheUsageText) {
    // A port that cannot exist: usage errors must be found before any port is opened.
    std::vector<std::string> args{"--port", "/nonexistent/tty"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const Result r = Ctl(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("usage: evbctl"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Usage, EvbCtlUsage,
    ::testing::Values(
        UsageCase{"noCommand", {}}, UsageCase{"unknownCommand", {"reboot"}},
        UsageCase{"unknownOption", {"--fast", "info"}}, UsageCase{"registerNotANumber", {"read", "zz"}},
        UsageCase{"registerTooBig", {"read", "0x100"}}, UsageCase{"missingValue", {"write", "1"}},
        UsageCase{"extraArgument", {"info", "now"}}, UsageCase{"dumpZero", {"dump", "0"}},
        UsageCase{"dumpTooMany", {"dump", "257"}}, UsageCase{"badMode", {"mode", "uart"}},
        UsageCase{"badMclk", {"mclk", "pll"}}, UsageCase{"badSdpPort", {"sdp", "4", "to-codec"}},
        UsageCase{"badSdpDir", {"sdp", "1", "sideways"}}, UsageCase{"optionWithoutValue", {"--timeout"}},
        UsageCase{"simulateAndPort", {"--simulate", "info"}}, UsageCase{"checkWithoutFile", {"check"}},
        UsageCase{"dryRunWithoutFile", {"send", "--dry-run"}}, UsageCase{"portsWithArgument", {"ports", "all"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EvbCtlPorts, ListsTheRealUartAndTheAdapterButNoPlaceholderOrConsole) {
    evbtest::FakeSysfs sys;
    sys.AddSerial8250("ttyS0", 4, true); // a 16550A
    for (const char* placeholder : {"ttyS1", "ttyS2", "ttyS3"})
        sys.AddSerial8250(placeholder, 0, true);
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddById("usb-FTDI_FT232R_USB_UART_A1-if00-port0", "../../ttyUSB0");
    sys.AddVirtual("tty0");
    ::setenv("EVB_SYSFS_ROOT", sys.Root().c_str(), 1);
    ::setenv("EVB_SERIAL_BY_ID", sys.ById().c_str(), 1);
    const Result r = Ctl({"ports"});
    ::unsetenv("EVB_SYSFS_ROOT");
    ::unsetenv("EVB_SERIAL_BY_ID");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "COM1\t\t\tserial8250\t\t\t\n"
                     "/dev/ttyUSB0\tFT232R USB UART\tFTDI\tftdi_sio\t0403:6001\t1-1.2:1.0\t" +
                         sys.ById() + "/usb-FTDI_FT232R_USB_UART_A1-if00-port0\n");
}

TEST(EvbCtlPorts, NoPortsIsNotAnError) {
    ::setenv("EVB_SYSFS_ROOT", "/nonexistent-evb-sysfs", 1);
    const Result r = Ctl({"ports"});
    ::unsetenv("EVB_SYSFS_ROOT");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
}

TEST(EvbCtlPort, PortThatCannotBeOpenedGivesExitThreeWithTheReason) {
    const Result r = Ctl({"--port", "/nonexistent/tty", "info"});
    EXPECT_EQ(r.code, 3);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.out, "");
}

TEST(EvbCtlSend, UnreadableFileIsReportedBeforeAnyPortIsOpened) {
    const Result r = Ctl({"--port", "/nonexistent/tty", "send", "/nonexistent/config.txt"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
    const Result dir = Ctl({"--port", "/nonexistent/tty", "send", "/tmp"});
    EXPECT_EQ(dir.code, 2);
    EXPECT_NE(dir.err.find("directory"), std::string::npos) << dir.err;
}

TEST(EvbCtlSend, FiveHundredTwelveLinesAtNineteenTwoHundredBaudArriveCompleteAndInOrder) {
    evbsim::SimOptions paced;
    paced.baud = 19200;
    evbsim::SimBoard board(paced);
    ASSERT_TRUE(board.Start());
    const auto file =
        std::filesystem::temp_directory_path() / ("evbctl-512-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream f(file);
        for (int i = 0; i < 512; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, ":W%02X%02X@\n", i & 0xFF, (i >> 8) & 0xFF);
            f << line;
        }
    }
    const Result r = Ctl({"--port", board.DevicePath(), "--timeout", "5000", "send", file.string()});
    std::filesystem::remove(file);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "SET_TXT_LENGTH" + kColon + "512\nSend the Confuguration  \n");
    // evbctl returns once the board has the whole batch, not when the frames left the program.
    EXPECT_EQ(board.State().batchesCompleted, 1u);
    ASSERT_TRUE(board.WaitForFrames(514, 10s));
    const auto frames = board.Frames();
    ASSERT_EQ(frames.size(), 514u);
    EXPECT_EQ(frames[0].record[0], 0x04);
    for (int i = 0; i < 512; ++i) {
        const auto& rec = frames[static_cast<std::size_t>(i) + 1].record;
        ASSERT_EQ(rec[0], 0x05) << i;
        ASSERT_EQ(rec[2], i & 0xFF) << i;
        ASSERT_EQ(rec[3], (i >> 8) & 0xFF) << i;
    }
    EXPECT_EQ(frames[513].record[0], 0x06);
    EXPECT_EQ(board.State().garbageBytes, 0u);
}

// --trace: one line per frame, package and port event on stderr; stdout as without it.
struct TraceCase {
    std::vector<std::string> args;
    std::vector<std::string> lines; // regular expressions, in order, for the lines after "opened"
};

class EvbCtlTrace : public EvbCtlTest, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(EvbCtlTrace, WritesTheLinkLogOnStderr) {
    const TraceCase& c = GetParam();
    const std::string example = std::string(EVB_SOURCE_DIR) + "/presets/examples/example.txt";
    std::vector<std::string> args = c.args;
    if (args[0] == "send") args.push_back(example);
    const Result plain = On(args);
    args.insert(args.begin(), "--trace");
    const Result traced = On(args);
    EXPECT_EQ(traced.code, 0) << traced.err;
    EXPECT_EQ(traced.out, plain.out);
    std::istringstream err(traced.err);
    std::vector<std::string> got;
    for (std::string line; std::getline(err, line);)
        got.push_back(line);
    const std::string time = R"(\d\d:\d\d:\d\d\.\d\d\d )";
    ASSERT_GE(got.size(), c.lines.size() + 2) << traced.err;
    EXPECT_TRUE(std::regex_match(got.front(), std::regex(time + "--  .* opened"))) << got.front();
    for (std::size_t i = 0; i < c.lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(got[i + 1], std::regex(time + c.lines[i]))) << got[i + 1];
    EXPECT_TRUE(std::regex_match(got.back(), std::regex(time + "--  .* closed"))) << got.back();
}

const std::string kZeros14 = "( 00){14}";
INSTANTIATE_TEST_SUITE_P(
    Commands, EvbCtlTrace,
    ::testing::Values(TraceCase{{"write", "0x1A", "5"},
                                {"TX 3A 00 1A 05" + kZeros14 + " 00 40  WriteReg 0x1A = 0x05",
                                 "RX 00  1 byte, consumed"}},
                      TraceCase{{"read", "0x1A"},
                                {"TX 3A 01 1A 00 01" + kZeros14 + " 40  ReadReg 0x1A",
                                 "RX [0-9A-F]{2}  1 byte, ReadReg reply 0x[0-9A-F]{2}"}},
                      TraceCase{{"info"},
                                {"TX 3A 58 00 00 00" + kZeros14 + " 40  BoardInfo",
                                 "RX ([0-9A-F]{2} ){17}[0-9A-F]{2}  18 bytes, board information"}},
                      TraceCase{{"send"},
                                {"TX 3A 04 00 01 00" + kZeros14 + " 40  BatchBegin 1",
                                 "(TX|RX) .*"}}));

TEST(EvbCtlSend, CtrlCStopsAfterTheCurrentLineAndClosesTheBatch) {
    // The line drains at 19200 baud, so the send lasts long enough to be interrupted.
    TalonComm::TLinePacer::SetEnabled(true);
    evbsim::SimBoard board(Unpaced());
    ASSERT_TRUE(board.Start());
    const auto file =
        std::filesystem::temp_directory_path() / ("evbctl-int-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream f(file);
        for (int i = 0; i < 512; ++i)
            f << ":W0101@\n";
    }
    std::thread interrupter([&] {
        // Some lines in, the send (and its SIGINT handler) is running.
        if (board.WaitForFrames(50, 10s)) ::kill(::getpid(), SIGINT);
    });
    const Result r = Ctl({"--port", board.DevicePath(), "send", file.string()});
    interrupter.join();
    TalonComm::TLinePacer::SetEnabled(false);
    std::filesystem::remove(file);
    EXPECT_EQ(r.code, 130) << r.err;
    const std::smatch m = [&] {
        std::smatch found;
        std::regex_search(r.out, found, std::regex("Send stopped after (\\d+) of 512 lines\n"));
        return found;
    }();
    ASSERT_FALSE(m.empty()) << r.out;
    const int k = std::stoi(m[1]);
    EXPECT_GE(k, 49);
    EXPECT_LT(k, 80);
    ASSERT_TRUE(board.WaitForFrames(static_cast<std::size_t>(k) + 2, 5s));
    const auto frames = board.Frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(k) + 2);
    EXPECT_EQ(frames.back().record[0], 0x06);
    EXPECT_EQ(board.State().batchesCompleted, 1u);
}

} // namespace
