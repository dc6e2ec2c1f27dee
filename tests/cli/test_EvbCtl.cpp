// evbctl run in-process against a simulated board on a real pseudo-terminal. How a number or a
// file's line is read, and which frame a command builds, is proved with the protocol layer;
// here: what evbctl prints, its exit status, and what reaches the board.

#include "cli/EvbCtl.h"
#include "protocol/TextConv.h"
#include "serial/TLinePacer.h"
#include "sim/SimBoard.h"
#include "tests/serial/FakeSysfs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Result {
    int code;
    std::string out, err;
};

Result Ctl(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = evbctl::Run(args, out, err);
    return {code, out.str(), err.str()};
}

// A file in the temporary folder, removed at the end of the test.
struct TempFile {
    explicit TempFile(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    ~TempFile() { std::filesystem::remove(path); }
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("evbctl-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                                 .string();
    static inline int serial = 0;
};

std::string Lines512() {
    std::string text;
    for (unsigned i = 0; i < 512; ++i)
        text += ":W" + evb::Hex2(i & 0xFF) + evb::Hex2(i >> 8) + "@\n";
    return text;
}

const std::string kColon = "\xEF\xBC\x9A";
const std::string kExample = std::string(EVB_SOURCE_DIR) + "/presets/examples/example.txt";

class EvbCtlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(board.Start());
        std::array<std::uint8_t, 18> info{};
        for (std::size_t i = 0; i < 18; ++i)
            info[i] = static_cast<std::uint8_t>(i);
        board.SetInfoRecord(info);
        for (int i = 0; i < 20; ++i)
            board.SetRegister(0x20, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(0xE0 + i));
        board.SetRegister(0x20, 0x1A, 0x05);
    }
    Result On(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", board.DevicePath()});
        return Ctl(args);
    }
    evbsim::SimBoard board{evbsim::SimOptions{.baud = 19200, .pace = false}};
};

struct CommandCase {
    std::vector<std::string> args;
    std::string out;
    std::function<bool(evbsim::SimBoard&)> reached;
};

class EvbCtlCommand : public EvbCtlTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(EvbCtlCommand, PrintsItsConsoleLineAndReachesTheBoard) {
    const Result r = On(GetParam().args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_TRUE(GetParam().reached(board));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, EvbCtlCommand, ::testing::Values(
    CommandCase{{"info"}, ".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n",
                [](auto& b) { return b.Frames().at(0).record[0] == 0x58; }},
    CommandCase{{"read", "$1A"}, "ReadReg:   Reg0x1A = 0x05\n", [](auto& b) { return b.FrameCount() == 1; }},
    CommandCase{{"write", "0x1B", "7"}, "WriteReg:   Reg0x1B = 0x07\n", [](auto& b) { return b.Register(0x20, 0x1B) == 7; }},
    CommandCase{{"dump", "20"}, "    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
                                "00: E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF\n10: F0 F1 F2 F3\n",
                [](auto& b) { return b.Frames().at(0).record[3] == 20; }},
    CommandCase{{"address", "0xC6"}, "Set the CHIP Address:0xC6\n", [](auto& b) { return b.State().chipAddress == 0xC6; }},
    CommandCase{{"mode", "spi"}, "Set the COMM Mode:SPI Mode\n", [](auto& b) { return b.State().commMode == 1; }},
    CommandCase{{"mclk", "amclk"}, "Set the MCLK:Use SPDIF AMCLK\n", [](auto& b) { return b.State().mclkSource == 3; }},
    CommandCase{{"sdp", "2", "to-codec"}, "Set the SDP2:Spdif=>Codec\n", [](auto& b) { return b.State().sdp[1] == 1; }},
    CommandCase{{"send", kExample}, "SET_TXT_LENGTH" + kColon + "9\nSend the Confuguration  \n",
                [](auto& b) { return b.State().batchesCompleted == 1 && b.State().batchLines == 8 && // one C line
                                     b.Register(0x20, 0x0A) == 0x3C; }}));
// clang-format on

// A file with an error sends nothing at all (the checker's diagnostics are tested with it).
TEST_F(EvbCtlTest, SendOfAFileWithAnErrorSendsNothing) {
    const TempFile file(":W0101@\n:W0o80@\n");
    const Result r = On({"send", file.path});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find(file.path + ":2: error: 'o' in column 4 is not a hexadecimal digit\nevbctl: nothing was sent"),
              std::string::npos) << r.err;
    EXPECT_EQ(board.FrameCount(), 0u);
}

TEST_F(EvbCtlTest, DryRunPrintsTheFramesSendWritesWithoutOpeningAPort) {
    const Result dry = Ctl({"--port", "/nonexistent/tty", "send", "--dry-run", kExample});
    EXPECT_EQ(dry.code, 0) << dry.err;
    ASSERT_EQ(On({"send", kExample}).code, 0);
    std::string sent;
    for (const auto& f : board.Frames()) {
        sent += "3A";
        for (std::uint8_t b : f.record)
            sent += " " + evb::Hex2(b);
        sent += " 40\n";
    }
    EXPECT_EQ(dry.out, sent);
}

TEST(EvbCtlCheck, SummarisesEachFileAndGivesExitFourForErrors) {
    const Result clean = Ctl({"check", kExample});
    EXPECT_EQ(clean.code, 0) << clean.err;
    EXPECT_EQ(clean.out, kExample + ": 9 command lines, 6 writes, 1 delay, 1 G step, 1 C line, 10 frames, "
                                    "104 ms on the wire at 19200 baud\n");
    const TempFile bad(":W0102@\n:W01@\n");
    const Result r = Ctl({"--baud", "115200", "check", kExample, bad.path});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.out.find(bad.path + ":2: error: '@' after only 2 hexadecimal digits: a W line needs four\n" +
                         bad.path + ": 2 command lines, 2 writes, 0 delays, 0 G steps, 0 C lines, 4 frames, "
                                    "7 ms on the wire at 115200 baud (not sendable: 1 error)\n"),
              std::string::npos)
        << r.out;
}

// A board that answers badly: evbctl exits 1 and says why, once its time-out has passed.
struct FaultCase {
    const char* name;
    std::function<void(evbsim::SimBoard&)> fault;
    std::vector<std::string> command;
    int code;
    const char* err; // part of the message on standard error ("" when none is expected)
    const char* out = "";
    bool hangUpAfterTheFrame = false;
};

class EvbCtlFault : public EvbCtlTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EvbCtlFault, ExitStatusAndMessageFollowTheFault) {
    const FaultCase& c = GetParam();
    c.fault(board);
    std::thread hangUp([&] {
        if (c.hangUpAfterTheFrame && board.WaitForFrames(1, 10s)) board.HangUp();
    });
    std::vector<std::string> args{"--timeout", c.hangUpAfterTheFrame ? "60000" : "300"};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const Result r = On(args);
    hangUp.join();
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.err.empty(), !*c.err) << r.err;
    EXPECT_EQ(board.FrameCount(), 1u) << "one command, one frame";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, EvbCtlFault, ::testing::Values(
    FaultCase{"withheldRead", [](auto& b) { b.WithholdReplies(true); }, {"read", "1"}, 1, "did not answer within 300 ms"},
    FaultCase{"delayedPastTheTimeout", [](auto& b) { b.DelayReplies(1500ms); }, {"read", "1"}, 1, "did not answer within 300 ms"},
    // Past the package interval but inside the time-out: the answer still counts.
    FaultCase{"delayedPastThePackageInterval", [](auto& b) { b.DelayReplies(150ms); }, {"read", "1"}, 0, "", "= 0xE1"},
    FaultCase{"cutShortInfo", [](auto& b) { b.TruncateReplies(1, 7); }, {"info"}, 1, "answered 7 of 18 bytes"},
    FaultCase{"corruptedRead", [](auto& b) { b.CorruptReplies(1); }, {"read", "1"}, 0, ""},
    // Noise that came before the command is not taken as its answer.
    FaultCase{"noiseBefore", [](auto& b) { b.SendUnsolicited({0x99, 0x98, 0x97}); ASSERT_TRUE(b.WaitRepliesSent(2s)); },
              {"read", "0x1A"}, 0, "", "= 0x05"},
    // A minute's delay: an exit before it can only come from the hang-up.
    FaultCase{"hangUpWhileWaiting", [](auto& b) { b.DelayReplies(60s); }, {"dump", "256"}, 1,
              "the port closed (hang-up) before the board answered", "", true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
};

class EvbCtlUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(EvbCtlUsage, BadInvocationGivesExitTwoAndTheUsageTextBeforeAnyPortIsOpened) {
    std::vector<std::string> args{"--port", "/nonexistent/tty"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const Result r = Ctl(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("usage: evbctl"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Usage, EvbCtlUsage, ::testing::Values(
    UsageCase{"noCommand", {}}, UsageCase{"unknownOption", {"--fast", "info"}},
    UsageCase{"registerTooBig", {"read", "0x100"}}, UsageCase{"missingValue", {"write", "1"}},
    UsageCase{"extraArgument", {"info", "now"}}, UsageCase{"dumpZero", {"dump", "0"}},
    UsageCase{"badSdpDir", {"sdp", "1", "sideways"}}, UsageCase{"optionWithoutValue", {"--timeout"}},
    UsageCase{"simulateAndPort", {"--simulate", "info"}}, UsageCase{"dryRunWithoutFile", {"send", "--dry-run"}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(EvbCtlPorts, ListsTheRealUartAndTheAdapterButNoPlaceholderOrConsoleAndWithoutAPortSaysSo) {
    evbtest::FakeSysfs sys;
    sys.AddSerial8250("ttyS0", 4, true); // a 16550A
    sys.AddSerial8250("ttyS1", 0, true); // a placeholder
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddById("usb-FTDI_FT232R_USB_UART_A1-if00-port0", "../../ttyUSB0");
    sys.AddVirtual("tty0");
    ::setenv("EVB_SYSFS_ROOT", sys.Root().c_str(), 1);
    ::setenv("EVB_SERIAL_BY_ID", sys.ById().c_str(), 1);
    const Result r = Ctl({"ports"});
    ::setenv("EVB_SYSFS_ROOT", "/nonexistent-evb-sysfs", 1);
    const Result noPort = Ctl({"info"}); // no --port and no port found
    ::unsetenv("EVB_SYSFS_ROOT");
    ::unsetenv("EVB_SERIAL_BY_ID");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "COM1\t\t\tserial8250\t\t\t\n/dev/ttyUSB0\tFT232R USB UART\tFTDI\tftdi_sio\t0403:6001\t1-1.2:1.0\t" +
                         sys.ById() + "/usb-FTDI_FT232R_USB_UART_A1-if00-port0\n");
    EXPECT_EQ(noPort.code, 3);
    EXPECT_NE(noPort.err.find("no serial port found; name one with --port DEVICE"), std::string::npos) << noPort.err;
}

TEST(EvbCtlSimulate, SimulateRunsAgainstABoardInsideEvbctl) {
    const Result r = Ctl({"--simulate", "--baud", "115200", "info"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind(".....EVBINFO:", 0), 0u) << r.out;
}

TEST(EvbCtlSend, FiveHundredTwelveLinesAtNineteenTwoHundredBaudArriveCompleteAndInOrder) {
    evbsim::SimBoard board(evbsim::SimOptions{.baud = 19200, .pace = true});
    ASSERT_TRUE(board.Start());
    const TempFile file(Lines512());
    const Result r = Ctl({"--port", board.DevicePath(), "--timeout", "5000", "send", file.path});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "SET_TXT_LENGTH" + kColon + "512\nSend the Confuguration  \n");
    // evbctl may return once the batch's wire time is over and the board answered after its end
    // frame; the board itself then says when it has the whole batch.
    ASSERT_TRUE(board.WaitForFrames(514, 20s));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (board.State().batchesCompleted == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(board.State().batchesCompleted, 1u);
    const auto frames = board.Frames();
    ASSERT_EQ(frames.size(), 514u);
    EXPECT_EQ(frames[0].record[0], 0x04);
    for (int i = 0; i < 512; ++i) {
        const auto& rec = frames[static_cast<std::size_t>(i) + 1].record;
        ASSERT_EQ(std::vector<int>({rec[0], rec[2], rec[3]}), std::vector<int>({0x05, i & 0xFF, (i >> 8) & 0xFF})) << i;
    }
    EXPECT_EQ(frames[513].record[0], 0x06);
    EXPECT_EQ(board.State().garbageBytes, 0u);
}

// A 512-line send interrupted by Ctrl+C some lines in, while the line drains at 19200 baud: it
// stops after the current line and closes the batch.
TEST(EvbCtlSend, CtrlCStopsTheSendAfterTheCurrentLineAndSaysHowFarItGot) {
    TalonComm::TLinePacer::SetEnabled(true);
    evbsim::SimBoard board(evbsim::SimOptions{.baud = 19200, .pace = false});
    ASSERT_TRUE(board.Start());
    const TempFile file(Lines512());
    std::thread interrupter([&] {
        if (board.WaitForFrames(50, 10s)) ::kill(::getpid(), SIGINT);
    });
    const Result r = Ctl({"--port", board.DevicePath(), "--timeout", "60000", "send", file.path});
    interrupter.join();
    TalonComm::TLinePacer::SetEnabled(false);
    std::smatch m;
    const std::string said = r.out + r.err;
    EXPECT_EQ(r.code, 130) << r.err;
    ASSERT_TRUE(std::regex_search(said, m, std::regex("Send stopped after (\\d+) of 512 lines\n"))) << said;
    const int k = std::stoi(m[1]);
    EXPECT_GE(k, 49);
    EXPECT_LT(k, 80);
    ASSERT_TRUE(board.WaitForFrames(static_cast<std::size_t>(k) + 2, 5s));
    EXPECT_EQ(board.Frames().size(), static_cast<std::size_t>(k) + 2);
    EXPECT_EQ(board.Frames().back().record[0], 0x06);
}

// --trace: one line per frame, package and port event on stderr (their wording is the link log's,
// tested with it); stdout as without it.
TEST_F(EvbCtlTest, TraceWritesTheLinkLogOnStderr) {
    const Result plain = On({"read", "0x1A"});
    const Result traced = On({"--trace", "read", "0x1A"});
    EXPECT_EQ(traced.code, 0) << traced.err;
    EXPECT_EQ(traced.out, plain.out);
    const std::string t = R"(\d\d:\d\d:\d\d\.\d\d\d )";
    EXPECT_TRUE(std::regex_match(traced.err, std::regex(t + "--  .* opened\n" + t + "TX 3A 01 1A 00 01( 00){14} 40  ReadReg 0x1A\n" +
                                                        t + "RX 05  1 byte, ReadReg reply 0x05\n" + t + "--  .* closed\n")))
        << traced.err;
}

} // namespace

// --- register snapshots --------------------------------------------------------------------

TEST_F(EvbCtlTest, SaveDiffRestoreWritesOnlyWhatDiffersAndReportsReadOnlyRegisters) {
    TempFile file("");
    ASSERT_EQ(On({"save", file.path}).out, "256 registers saved to " + file.path + "\n");
    EXPECT_EQ(On({"diff", file.path}).code, evbctl::kExitOk);
    board.SetRegister(0x20, 0x1A, 0x50);
    board.SetRegister(0x20, 0x40, 0x0F ^ board.Register(0x20, 0x40));
    Result r = On({"diff", file.path});
    EXPECT_EQ(r.code, evbctl::kExitRegistersDiffer);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Reg0x1A: board 0x50, file 0x05");
    EXPECT_NE(r.out.find("\n2 of 256 registers differ from " + file.path + "\n"), std::string::npos) << r.out;

    board.ClearFrames();
    r = On({"restore", file.path});
    ASSERT_EQ(r.code, evbctl::kExitOk) << r.out << r.err;
    // read-all, begin, the two writes, end, read-all
    const auto frames = board.Frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ((std::vector<int>{frames[1].record[0], frames[2].record[2], frames[2].record[3], frames[3].record[2],
                                frames[4].record[0]}),
              (std::vector<int>{0x04, 0x1A, 0x05, 0x40, 0x06}));
    EXPECT_EQ(On({"diff", file.path}).code, evbctl::kExitOk);

    board.SetRegister(0x20, 0x1A, 0x00);
    board.SetReadOnly(0x20, 0x1A, true);
    r = On({"restore", file.path, "32"});
    EXPECT_EQ(r.code, evbctl::kExitRegistersDiffer);
    EXPECT_NE(r.out.find("after restore: 1 of 32 registers differs from " + file.path), std::string::npos) << r.out;

    TempFile bad(":W1A0@\n");
    board.ClearFrames();
    r = On({"restore", bad.path});
    EXPECT_EQ(r.code, evbctl::kExitFileErrors);
    EXPECT_NE(r.err.find(bad.path + ":1: error:"), std::string::npos) << r.err;
    EXPECT_EQ(board.FrameCount(), 0u);
}
