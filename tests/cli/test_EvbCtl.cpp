// evbctl run in-process against a simulated board on a real pseudo-terminal. How a number or a
// file's line is read, and which frame a command builds, is proved with the protocol layer;
// here: what evbctl prints, its exit status, and what reaches the board.

#include "BoardLink.h" // Records, Recs, Repeat
#include "cli/EvbCtl.h"
#include "protocol/TextConv.h"
#include "sim/SimBoard.h"
#include "tests/TempDir.h"
#include "tests/serial/FakeSysfs.h"

#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <csignal>
#include <filesystem>
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

Result Ctl(std::vector<std::string> args, TalonComm::TLineIo* line = nullptr) {
    std::ostringstream out, err;
    const int code = evbctl::Run(args, out, err, line);
    return {code, out.str(), err.str()};
}

const std::string kColon = "\xEF\xBC\x9A";
const std::string kExample = std::string(EVB_SOURCE_DIR) + "/presets/examples/example.txt";

class EvbCtlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(board.Start()); // its information record holds 00 .. 11
        for (int i = 0; i < 20; ++i)
            board.SetRegister(0x20, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(0xE0 + i));
        board.SetRegister(0x20, 0x1A, 0x05);
    }
    Result On(std::vector<std::string> args, TalonComm::TLineIo* line = nullptr) {
        args.insert(args.begin(), {"--port", board.DevicePath()});
        return Ctl(args, line);
    }
    evbsim::SimBoard board{evbsim::SimOptions{.baud = 19200, .pace = false}};
};

// One run of evbctl. "BOARD" in the arguments stands for the simulated board's device, "FILE" in
// the arguments and the messages for a file holding `file`. Runs that must end before any port
// is opened name a port that does not exist: opening it would give exit 3.
struct RunCase {
    const char* name;
    std::vector<std::string> args;
    int code;
    std::string out;         // standard output, whole
    std::string err = "";    // a regular expression found in standard error; "": nothing on it
    const char* frames = ""; // the records the board received, leading bytes, ';' between records
    std::function<void(evbsim::SimBoard&)> fault = nullptr;
    std::string file = "";
    bool hangUpAfterTheFrame = false;
};

class EvbCtlRun : public EvbCtlTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(EvbCtlRun, ExitStatusOutputAndFramesFollowTheArgumentsAndTheBoard) {
    const RunCase& c = GetParam();
    const TempDir dir;
    const std::string file = dir.write("file.txt", c.file);
    const auto fill = [&](std::string s) {
        for (const auto& [word, value] : {std::pair{"BOARD", board.DevicePath()}, {"FILE", file}})
            for (std::size_t at; (at = s.find(word)) != std::string::npos;)
                s.replace(at, std::string_view(word).size(), value);
        return s;
    };
    if (c.fault) c.fault(board);
    const std::jthread hangUp([&] {
        if (c.hangUpAfterTheFrame && board.WaitForFrames(1, 10s)) board.HangUp();
    });
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        a = fill(a);
    const Result r = Ctl(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(r.out, fill(c.out));
    EXPECT_TRUE(std::regex_search(r.err, std::regex(fill(c.err)))) << r.err;
    EXPECT_EQ(r.err.empty(), c.err.empty()) << r.err;
    EXPECT_EQ(Records(board), Recs(c.frames));
}

const char* const kNowhere = "/nonexistent/tty";
const std::string kInfo = ".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n";
const std::string kUsage = "; see `evbctl --help`\n$";
const std::string kAt = R"(\d\d:\d\d:\d\d\.\d\d\d )"; // a --trace line's time of day
const std::string kMap = std::string(EVB_SOURCE_DIR) + "/tests/protocol/regmaps/codec.json"; // ADC_VOL_L is 0x10

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, EvbCtlRun, ::testing::Values(
    RunCase{"write", {"--port", "BOARD", "write", "0x1B", "7"}, 0, "WriteReg:   Reg0x1B = 0x07\n", "", "00 1B 07"},
    RunCase{"dump", {"--port", "BOARD", "dump", "20"}, 0, "    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
            "00: E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF\n10: F0 F1 F2 F3\n", "", "01 00 00 14"},
    RunCase{"address", {"--port", "BOARD", "address", "0xC6"}, 0, "Set the CHIP Address:0xC6\n", "", "0D C6"},
    RunCase{"mode", {"--port", "BOARD", "mode", "spi"}, 0, "Set the COMM Mode:SPI Mode\n", "", "0E 01"},
    RunCase{"mclk", {"--port", "BOARD", "mclk", "amclk"}, 0, "Set the MCLK:Use SPDIF AMCLK\n", "", "0A 03"},
    RunCase{"sdp", {"--port", "BOARD", "sdp", "2", "to-codec"}, 0, "Set the SDP2:Spdif=>Codec\n", "", "02 01 01"},
    RunCase{"send", {"--port", "BOARD", "send", kExample}, 0, "SET_TXT_LENGTH" + kColon + "9\nSend the Confuguration  \n", "",
            "04 00 01; 05 00 00 00; 05 07 00 14; 05 00 01 30; 05 00 02 04; 05 00 0A 3C; 05 00 0B 3C; 05 0B 00 01; 05 00 10 00; 06"},
    // --trace: one line per frame, package and port event on stderr (their wording is the link
    // log's, tested with it); stdout as without it.
    RunCase{"trace", {"--port", "BOARD", "--trace", "read", "0x1A"}, 0, "ReadReg:   Reg0x1A = 0x05\n",
            "^" + kAt + "--  .* opened\n" + kAt + "TX 3A 01 1A 00 01( 00){14} 40  ReadReg 0x1A\n" + kAt +
            "RX 05  1 byte, ReadReg reply 0x05\n" + kAt + "--  .* closed\n$", "01 1A 00 01"},
    RunCase{"simulate", {"--simulate", "--baud", "115200", "info"}, 0, kInfo},
    // A file with an error sends nothing at all (the checker's diagnostics are tested with it).
    RunCase{"sendOfAFileWithAnError", {"--port", kNowhere, "send", "FILE"}, 4, "",
            "FILE:2: error: 'o' in column 4 is not a hexadecimal digit\nevbctl: nothing was sent", "", nullptr,
            ":W0101@\n:W0o80@\n"},
    RunCase{"check", {"check", kExample}, 0, kExample + ": 9 command lines, 6 writes, 1 delay, 1 G step, 1 C line, "
            "10 frames, 104 ms on the wire at 19200 baud\n"},
    RunCase{"checkOfAFileWithAnError", {"--baud", "115200", "check", kExample, "FILE"}, 4,
            kExample + ": 9 command lines, 6 writes, 1 delay, 1 G step, 1 C line, 10 frames, 17 ms on the wire at "
            "115200 baud\nFILE:2: error: '@' after only 2 hexadecimal digits: a W line needs four\nFILE: 2 command "
            "lines, 2 writes, 0 delays, 0 G steps, 0 C lines, 4 frames, 7 ms on the wire at 115200 baud (not "
            "sendable: 1 error)\n", "", "", nullptr, ":W0102@\n:W01@\n"},
    // A board that answers badly: evbctl exits 1 and says why, once its time-out has passed (a reply
    // delayed past it is the same silence to evbctl).
    RunCase{"withheldRead", {"--port", "BOARD", "--timeout", "300", "read", "1"}, 1, "",
            "the board did not answer within 300 ms", "01 01 00 01", [](auto& b) { b.WithholdReplies(true); }},
    // Past the package interval but inside the time-out: the answer still counts.
    RunCase{"delayedPastThePackageInterval", {"--port", "BOARD", "--timeout", "300", "read", "1"}, 0,
            "ReadReg:   Reg0x01 = 0xE1\n", "", "01 01 00 01", [](auto& b) { b.DelayReplies(150ms); }},
    // The result line comes only with the board's answer.
    RunCase{"withheldWrite", {"--port", "BOARD", "--timeout", "300", "write", "0x1A", "5"}, 1, "",
            "the board did not answer within 300 ms", "00 1A 05", [](auto& b) { b.WithholdReplies(true); }},
    RunCase{"cutShortInfo", {"--port", "BOARD", "--timeout", "300", "info"}, 1, "", "the board answered 7 of 18 bytes",
            "58", [](auto& b) { b.TruncateReplies(1, 7); }},
    // An answer is complete once its bytes are in: one more after it is reported, not taken;
    // with --package-gap too (where it comes inside the 50 ms).
    RunCase{"oneByteTooMany", {"--port", "BOARD", "read", "0x1A"}, 0, "ReadReg:   Reg0x1A = 0x05\n",
            "^evbctl: warning: the board sent 1 byte nobody asked for: 77\n$", "01 1A 00 01",
            [](auto& b) { b.TrailReplies(1, {0x77}, 0ms); }},
    RunCase{"oneByteTooManyWithThePackageGap", {"--port", "BOARD", "--package-gap", "dump", "2"}, 0,
            "    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n00: E0 E1\n",
            "^evbctl: warning: the board sent 1 byte nobody asked for: 77\n$", "01 00 00 02",
            [](auto& b) { b.TrailReplies(1, {0x77}, 0ms); }},
    // Noise that came before the command is not taken as its answer.
    RunCase{"noiseBefore", {"--port", "BOARD", "read", "0x1A"}, 0, "ReadReg:   Reg0x1A = 0x05\n", "", "01 1A 00 01",
            [](auto& b) { b.SendUnsolicited({0x99, 0x98, 0x97}); ASSERT_TRUE(b.WaitRepliesSent(2s)); }},
    // A minute's delay: an exit before it can only come from the hang-up.
    RunCase{"hangUpWhileWaiting", {"--port", "BOARD", "--timeout", "60000", "dump", "256"}, 1, "",
            "the port closed \\(hang-up\\) before the board answered", "01 00 01 00",
            [](auto& b) { b.DelayReplies(60s); }, "", true},
    // A bad invocation: exit 2 and the usage text, before any port is opened.
    RunCase{"noCommand", {"--port", kNowhere}, 2, "", kUsage},
    RunCase{"optionsAfterTheCommand", {"read", "0x1A", "--port", "BOARD"}, 0, "ReadReg:   Reg0x1A = 0x05\n", "", "01 1A 00 01"},
    RunCase{"version", {"info", "--version"}, 0, "evbctl 2.4.5.2\n"},
    RunCase{"portErrorOnOneLine", {"--port", kNowhere, "info"}, 3, "",
            "^evbctl: Serial port: \"/nonexistent/tty\" - Cannot open COM port: No such file or directory\n$"},
    RunCase{"strictSendOfAFileWithAWarning", {"--port", kNowhere, "send", "--strict", "FILE"}, 4, "",
            "^FILE:1: error: unknown command letter 'X': the line is counted, not sent\nevbctl: nothing was sent", "",
            nullptr, ":X0102@\n"},
    RunCase{"emptyPort", {"--port", "", "info"}, 2, "", "--port needs a device name"},
    RunCase{"blankPort", {"--port", " ", "info"}, 2, "", "--port needs a device name"},
    RunCase{"unknownOption", {"--port", kNowhere, "--fast", "info"}, 2, "", kUsage},
    RunCase{"registerTooBig", {"--port", kNowhere, "read", "0x100"}, 2, "", kUsage},
    RunCase{"missingValue", {"--port", kNowhere, "write", "1"}, 2, "", kUsage},
    RunCase{"extraArgument", {"--port", kNowhere, "info", "now"}, 2, "", kUsage},
    RunCase{"dumpZero", {"--port", kNowhere, "dump", "0"}, 2, "", kUsage},
    RunCase{"badSdpDir", {"--port", kNowhere, "sdp", "1", "sideways"}, 2, "", kUsage},
    RunCase{"optionWithoutValue", {"--port", kNowhere, "--timeout"}, 2, "", kUsage},
    RunCase{"simulateAndPort", {"--port", kNowhere, "--simulate", "info"}, 2, "", kUsage},
    RunCase{"dryRunWithoutFile", {"--port", kNowhere, "send", "--dry-run"}, 2, "", kUsage},
    // Register maps: names for numbers, fields read, changed and written back.
    RunCase{"readName", {"--port", "BOARD", "--regmap", kMap, "read", "adc_vol_l"}, 0, "ReadReg:   Reg0x10 = 0xF0\n", "",
            "01 10 00 01"},
    RunCase{"writeFieldByValueName", {"--port", "BOARD", "--regmap", kMap, "write", "ADC_VOL_L.MUTE", "off"}, 0,
            "WriteReg:   Reg0x10 = 0x70\n", "", "01 10 00 01; 00 10 70"},
    RunCase{"traceNamesRegisters", {"--port", "BOARD", "--regmap", kMap, "--trace", "write", "ADC_VOL_L.MUTE", "0"}, 0,
            "WriteReg:   Reg0x10 = 0x70\n", kAt + "TX 3A 01 10 00 01( 00){14} 40  ReadReg 0x10 ADC_VOL_L\n(.*\n)*" + kAt +
            "TX 3A 00 10 70( 00){15} 40  WriteReg 0x10 ADC_VOL_L = 0x70\n", "01 10 00 01; 00 10 70"},
    RunCase{"writeFieldByNumber", {"--port", "BOARD", "--regmap", kMap, "write", "0x10.VOL", "5"}, 0,
            "WriteReg:   Reg0x10 = 0x85\n", "", "01 10 00 01; 00 10 85"},
    RunCase{"fields", {"--port", "BOARD", "--regmap", kMap, "fields", "0x10"}, 0, "0x10 ADC_VOL_L = 0xF0  Left ADC "
            "digital volume\n  VOL[6:0] = 112  0.5 dB steps\n  MUTE[7] = on\n", "", "01 10 00 01"},
    RunCase{"writeToReadOnlyWarns", {"--port", "BOARD", "--chip", "kv2440", "write", "STATUS", "1"}, 0,
            "WriteReg:   Reg0x3C = 0x01\n", "^evbctl: warning: STATUS is read-only; the write is sent\n$", "00 3C 01"},
    RunCase{"namedDiff", {"--port", "BOARD", "--regmap", kMap, "diff", "FILE", "32"}, 5, "Reg0x10 ADC_VOL_L: board 0xF0, "
            "file 0x85 (VOL 112 \u2192 5)\nReg0x11 STATUS: board 0xF1, file 0x00 (LOCK 1 \u2192 0, LEVEL 3 \u2192 0, reserved "
            "bits 0xC0 \u2192 0x00)\n2 of 2 registers differ from FILE\n", "FILE:2: warning: write to 0x11", "01 00 00 20", nullptr, ":W1085@\n:W1100@\n"},
    RunCase{"restoreSkipsReadOnly", {"--port", "BOARD", "--regmap", kMap, "restore", "FILE", "32"}, 0,
            "not restored (read-only): STATUS (0x11)\nwriting 1 register\nSET_TXT_LENGTH" + kColon + "1\nSend the "
            "Confuguration  \nafter restore: every register matches FILE (1 register compared)\n", "FILE:2: warning",
            "01 00 00 20; 04 00 01; 05 00 10 85; 06; 01 00 00 20", nullptr, ":W1085@\n:W1100@\n"},
    RunCase{"checkWarnsOfReadOnlyWrites", {"--regmap", kMap, "check", "FILE"}, 0, "FILE:2: warning: write to 0x11: STATUS is "
            "read-only; it is sent\nFILE: 2 command lines, 2 writes, 0 delays, 0 G steps, 0 C lines, 4 frames, 42 ms on "
            "the wire at 19200 baud\n", "", "", nullptr, ":W1085@\n:W1100@\n"},
    RunCase{"unknownNameSuggests", {"--port", kNowhere, "--regmap", kMap, "read", "ADC_VOL"}, 2, "",
            "^evbctl: no register ADC_VOL in the register map; did you mean ADC_VOL_L\\?\n$"},
    RunCase{"nameWithoutMap", {"--port", kNowhere, "read", "ADC_VOL_L"}, 2, "", "register names need a register map"},
    RunCase{"fieldValueTooWide", {"--port", kNowhere, "--regmap", kMap, "write", "ADC_VOL_L.VOL", "128"}, 2, "",
            "does not fit ADC_VOL_L.VOL\\[6:0\\] \\(0..127\\)"},
    RunCase{"unknownChip", {"--port", kNowhere, "--chip", "KV9999", "info"}, 2, "", "no shipped register map for KV9999"},
    RunCase{"regmapCheck", {"regmap", "check", kMap, "FILE"}, 4, kMap + ": 3 registers, 4 fields\nFILE:1: error: "
            "register A has no address\nFILE: refused (1 error)\n", "", "", nullptr, "{\"registers\": [{\"name\": \"A\"}]}"},
    RunCase{"regmapShow", {"regmap", "show", "FILE"}, 0, "T: 1 register, 1 field\nADDR  NAME  ACCESS      RESET  "
            "DESCRIPTION\n0x01  A     read-only   0x00   status (volatile)\n      X[1:0]  level; 1 low, 3 high\n", "", "",
            nullptr, R"({"chip": "T", "registers": [{"address": 1, "name": "A", "description": "status", "access": )"
            R"("read-only", "volatile": true, "fields": [{"name": "X", "bits": "1:0", "description": "level", )"
            R"("values": {"3": "high", "1": "low"}}]}]})"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

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

// The system console's port is listed as such, never picked by itself, and named explicitly it
// is opened after a warning (here a console on a device that does not exist).
TEST(EvbCtlPorts, ListsTheRealUartAndTheAdapterButNoPlaceholderAndNeverPicksTheSystemConsole) {
    evbtest::FakeSysfs sys, consoleOnly;
    sys.AddSerial8250("ttyS0", 4, true); // a 16550A
    sys.AddSerial8250("ttyS1", 0, true); // a placeholder
    sys.AddUsb("ttyUSB0", "bus/usb-serial/drivers/ftdi_sio", true);
    sys.AddById("usb-FTDI_FT232R_USB_UART_A1-if00-port0", "../../ttyUSB0");
    sys.AddVirtual("tty0");
    sys.SetConsole("tty0 ttyS0");
    consoleOnly.AddSerial8250("ttyS0", 4, true);
    consoleOnly.SetConsole("tty0 ttyS0 ttyEVB9");
    ::setenv("EVB_SYSFS_ROOT", sys.Root().c_str(), 1);
    ::setenv("EVB_SERIAL_BY_ID", sys.ById().c_str(), 1);
    const Result r = Ctl({"ports"});
    ::setenv("EVB_SYSFS_ROOT", consoleOnly.Root().c_str(), 1);
    const Result noPort = Ctl({"info"}); // no --port and no port found but the console
    const Result named = Ctl({"--port", "/dev/ttyEVB9", "info"});
    ::unsetenv("EVB_SYSFS_ROOT");
    ::unsetenv("EVB_SERIAL_BY_ID");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "COM1\t\t\tserial8250\t\t\t\tsystem console\n/dev/ttyUSB0\tFT232R USB UART\tFTDI\tftdi_sio\t"
                     "0403:6001\t1-1.2:1.0\t" +
                         sys.ById() + "/usb-FTDI_FT232R_USB_UART_A1-if00-port0\t\n");
    EXPECT_EQ(noPort.code, 3);
    EXPECT_NE(noPort.err.find("no serial port found but the system console COM1; name one with --port DEVICE"),
              std::string::npos)
        << noPort.err;
    EXPECT_EQ(named.code, 3);
    EXPECT_NE(named.err.find("warning: /dev/ttyEVB9 is the system console"), std::string::npos) << named.err;
}

// A 512-line send interrupted by Ctrl+C some lines in (evbctl paces the pseudo-terminal to
// 19200 baud by itself): it stops after the current line, and exits once the board has the
// lines it names and the end frame.
TEST_F(EvbCtlTest, CtrlCStopsTheSendAfterTheCurrentLineAndSaysHowFarItGot) {
    const TempDir dir;
    const std::string file = dir.write("512.txt", Repeat(":W0000@\n", 512));
    std::thread interrupter([&] {
        if (board.WaitForFrames(50, 10s)) ::kill(::getpid(), SIGINT);
    });
    const Result r = On({"--timeout", "60000", "send", file});
    interrupter.join();
    std::smatch m;
    EXPECT_EQ(r.code, 130) << r.err;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Send stopped after (\\d+) of 512 lines\n"))) << r.out;
    const int k = std::stoi(m[1]);
    EXPECT_GE(k, 49);
    EXPECT_LT(k, 80);
    ASSERT_TRUE(board.WaitForFrames(static_cast<std::size_t>(k) + 2, 300ms)); // its last bytes on the wire
    EXPECT_EQ(board.Frames().size(), static_cast<std::size_t>(k) + 2);
    EXPECT_EQ(board.Frames().back().record[0], 0x06);
}

} // namespace

// --- register snapshots --------------------------------------------------------------------

TEST_F(EvbCtlTest, SaveDiffRestoreWritesOnlyWhatDiffersAndReportsReadOnlyRegisters) {
    const TempDir dir;
    const std::string file = (dir.path / "regs.txt").string();
    ASSERT_EQ(On({"save", file}).out, "256 registers saved to " + file + "\n");
    board.SetRegister(0x20, 0x1A, 0x50);
    const std::string saved40 = evb::Hex2(board.Register(0x20, 0x40));
    board.SetRegister(0x20, 0x40, 0x0F ^ board.Register(0x20, 0x40));
    Result r = On({"diff", file});
    EXPECT_EQ(r.code, evbctl::kExitRegistersDiffer);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Reg0x1A: board 0x50, file 0x05");
    EXPECT_NE(r.out.find("\n2 of 256 registers differ from " + file + "\n"), std::string::npos) << r.out;

    board.ClearFrames();
    r = On({"restore", file});
    ASSERT_EQ(r.code, evbctl::kExitOk) << r.out << r.err;
    // read-all, begin, the two writes, end, read-all
    EXPECT_EQ(Records(board), Recs("01 00 01 00; 04 00 01; 05 00 1A 05; 05 00 40 " + saved40 + "; 06; 01 00 01 00"));

    board.SetRegister(0x20, 0x1A, 0x00);
    board.SetReadOnly(0x20, 0x1A, true);
    r = On({"restore", file, "32"});
    EXPECT_EQ(r.code, evbctl::kExitRegistersDiffer);
    EXPECT_NE(r.out.find("after restore: 1 of 32 registers differs from " + file), std::string::npos) << r.out;
}

// Two runs at once on two threads, each on its own board: with one board session per run, every
// frame reaches its own board and every answer is read by the run that asked for it.
TEST(EvbCtlSessions, TwoRunsAtOnceOnTwoBoardsKeepTheirFramesAndAnswersApart) {
    std::array<evbsim::SimBoard, 2> boards{evbsim::SimBoard{evbsim::SimOptions{.baud = 19200, .pace = false}},
                                           evbsim::SimBoard{evbsim::SimOptions{.baud = 19200, .pace = false}}};
    for (auto& b : boards)
        ASSERT_TRUE(b.Start());
    std::barrier step(2);
    std::array<std::string, 2> got, want;
    const auto runs = [&](int b) {
        for (int i = 0; i < 4; ++i) {
            const std::string reg = "0x" + evb::Hex2(static_cast<unsigned>(0x10 + i));
            const std::string value = evb::Hex2(static_cast<unsigned>(b * 0x80 + i));
            step.arrive_and_wait(); // both boards' commands go out at the same time
            for (const auto& args : {std::vector<std::string>{"write", reg, "0x" + value}, {"read", reg}}) {
                std::vector<std::string> all{"--port", boards[b].DevicePath()};
                all.insert(all.end(), args.begin(), args.end());
                const Result r = Ctl(all);
                got[b] += std::to_string(r.code) + " " + r.out;
            }
            want[b] += "0 WriteReg:   Reg" + reg + " = 0x" + value + "\n0 ReadReg:   Reg" + reg + " = 0x" + value + "\n";
        }
    };
    std::thread other(runs, 1);
    runs(0);
    other.join();
    for (int b = 0; b < 2; ++b) {
        EXPECT_EQ(got[b], want[b]);
        EXPECT_EQ(boards[b].Frames().size(), 8u);
    }
}
