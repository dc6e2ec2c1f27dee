// evbctl --json: each command's object holds the fields its manual page documents. evbctl session:
// requests to boards held open, answered by id, in-process against simulated boards.

#include "BoardLink.h" // Repeat
#include "cli/EvbCtl.h"
#include "serial/TLinePacer.h"
#include "sim/SimBoard.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <csignal>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

const std::string kSource = EVB_SOURCE_DIR;
const std::string kMap =
    kSource + "/tests/protocol/regmaps/codec.json"; // ADC_VOL_L 0x10, STATUS 0x11 read-only
const std::string kExample = kSource + "/presets/examples/example.txt";

// The "Fields:" line under each command of the manual page's JSON OUTPUT section.
std::map<std::string, std::set<std::string>> DocumentedFields() {
    std::ifstream in(kSource + "/data/man/evbctl.1");
    const std::string man((std::istreambuf_iterator<char>(in)), {});
    std::map<std::string, std::set<std::string>> fields;
    const std::regex entry(R"(\n\.B ([^\n]+)\nFields: ([^\n]*)\n)"), name(R"(\\fB(\w+)\\fR)");
    for (std::sregex_iterator e(man.begin(), man.end(), entry), end; e != end; ++e) {
        const std::string line = (*e)[2],
                          command = std::regex_replace((*e)[1].str(), std::regex(R"(\\-)"), "-");
        for (std::sregex_iterator n(line.begin(), line.end(), name); n != end; ++n)
            fields[command].insert((*n)[1]);
    }
    return fields;
}

struct JsonCase {
    std::string documented; // the manual's entry
    std::vector<std::string> args;
    int code = 0;
};

TEST(EvbCtlJson, EachCommandGivesOneObjectWithTheFieldsItsManualPageDocuments) {
    evbsim::SimBoard board{evbsim::SimOptions{.baud = 19200, .pace = false}};
    ASSERT_TRUE(board.Start());
    const TempDir dir;
    const std::string file = dir.write("regs.txt", ":W1085@\n:W1100@\n"),
                      saved = (dir.path / "saved.txt").string();
    ::setenv("EVB_SYSFS_ROOT", dir.path.c_str(), 1); // no ports at all
    const std::vector<JsonCase> cases = {
        {"info", {"info"}},
        {"read", {"--regmap", kMap, "read", "ADC_VOL_L"}},
        {"write", {"write", "ADC_VOL_L.VOL", "5", "--regmap", kMap}},
        {"fields", {"--regmap", kMap, "fields", "0x10"}},
        {"dump", {"dump", "4"}},
        {"save", {"save", saved, "4"}},
        {"send", {"send", kExample}},
        {"send --dry-run", {"send", "--dry-run", kExample}},
        {"diff", {"--regmap", kMap, "diff", file, "32"}, 5},
        {"restore", {"--regmap", kMap, "restore", file, "32"}},
        {"check", {"check", kExample, file}},
        {"regmap check", {"regmap", "check", kMap}},
        {"regmap show", {"regmap", "show", kMap}},
        {"address", {"address", "0x30"}},
        {"mode", {"mode", "i2c"}},
        {"mclk", {"mclk", "osc"}},
        {"sdp", {"sdp", "3", "to-spdif"}},
        {"ports", {"ports"}},
        {"--version", {"--version"}},
    };
    const auto documented = DocumentedFields();
    EXPECT_EQ(documented.size(), cases.size());
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.documented);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--json", "--port", board.DevicePath()});
        std::ostringstream out, err;
        EXPECT_EQ(evbctl::Run(args, out, err), c.code) << err.str();
        const std::string text = out.str();
        ASSERT_EQ(text.find('\n'), text.size() - 1) << text; // one line
        nlohmann::json o = nlohmann::json::parse(text);
        EXPECT_EQ(o["ok"], c.code == 0);
        EXPECT_EQ(o["cmd"],
                  c.documented.substr(0, c.documented.find(" --")).substr(c.documented[0] == '-' ? 2 : 0));
        std::set<std::string> keys;
        for (const auto& [key, value] : o.items())
            if (key != "ok" && key != "cmd" && key != "exit" && key != "error") keys.insert(key);
        EXPECT_EQ(keys, documented.at(c.documented));
        EXPECT_EQ(o.contains("exit") && o.contains("error"), c.code != 0);
    }
    ::unsetenv("EVB_SYSFS_ROOT");
}

// A failure is an object too, with the exit status the text run has.
TEST(EvbCtlJson, AFailureIsAnObjectWithTheExitStatusAndTheReason) {
    evbsim::SimBoard board{evbsim::SimOptions{.baud = 19200, .pace = false}};
    ASSERT_TRUE(board.Start());
    board.WithholdReplies(true);
    for (
        const auto& [args, object] : std::vector<std::pair<std::vector<std::string>, std::string>>{
            {{"--port", "/nonexistent/tty", "read", "1"},
             R"({"ok":false,"cmd":"read","exit":3,"error":"Serial port: \"/nonexistent/tty\" - )"
             R"(Cannot open COM port: No such file or directory"})"},
            {{"--port", board.DevicePath(), "--timeout", "100", "read", "1"},
             R"({"ok":false,"cmd":"read","exit":1,"reg":1,"name":null,"error":"the board did not answer within 100 ms"})"}}) {
        std::vector<std::string> a = args;
        a.push_back("--json");
        std::ostringstream out, err;
        const int code = evbctl::Run(a, out, err);
        EXPECT_EQ(code, nlohmann::json::parse(object)["exit"]);
        EXPECT_EQ(out.str(), object + "\n");
        EXPECT_EQ(err.str(), "");
    }
}

// An `evbctl session --json` run in-process on the given input; its answers by id.
struct SessionRun {
    int code;
    std::vector<nlohmann::json> answers; // in the order written
    std::string err;
    const nlohmann::json& operator[](const nlohmann::json& id) const { return answers.at(at(id)); }
    std::size_t at(const nlohmann::json& id) const {
        for (std::size_t i = 0; i < answers.size(); ++i)
            if (answers[i]["id"] == id) return i;
        return answers.size();
    }
};

SessionRun Session(const std::string& input, std::vector<std::string> args = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    args.insert(args.end(), {"session", "--json"});
    const int code = evbctl::Run(args, in, out, err, nullptr);
    SessionRun r{code, {}, err.str()};
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        r.answers.push_back(nlohmann::json::parse(line));
    return r;
}

class EvbCtlSession : public ::testing::Test {
  protected:
    void SetUp() override {
        for (auto& b : boards)
            ASSERT_TRUE(b.Start());
    }
    std::string open() const {
        return "open b1 " + boards[0].DevicePath() + "\nopen b2 " + boards[1].DevicePath() + "\n";
    }
    std::array<evbsim::SimBoard, 2> boards{
        evbsim::SimBoard{evbsim::SimOptions{.baud = 19200, .pace = false}},
        evbsim::SimBoard{evbsim::SimOptions{.baud = 19200, .pace = false}}};
};

TEST_F(EvbCtlSession, TwoBoardsAnswerByIdEachInOrderAndBadLinesAreAnsweredWithoutEndingTheSession) {
    const SessionRun r = Session(open() +
                                 R"({"id": "w1", "board": "b1", "cmd": "write", "reg": "0x1A", "value": 1}
{"id": "w2", "board": "b2", "cmd": "write", "reg": 26, "value": "2"}
b1: read 0x1A
b2: read 0x1A
{"id": 9, "board": "b1"
b3: read 1
b1: frobnicate
wait
{"id": "r2", "board": "b2", "cmd": "read", "args": ["0x1A"]}
{"id": "x", "board": "b2", "cmd": "read", "reg": 1, "colour": "red"}
{"id": "d", "board": "b2", "cmd": "dump", "count": 2, "timeout": 500, "all": false}
{"id": "t", "cmd": ["read"]}
{"id": "n", "board": "b2", "args": 1}
)");
    EXPECT_EQ(r.code, 2) << r.err; // the worst seen: the bad lines
    EXPECT_EQ(r.answers.size(), 15u);
    std::string values; // each answer's board and value
    for (const nlohmann::json& id : {nlohmann::json("w1"), nlohmann::json("w2"), nlohmann::json(5),
                                     nlohmann::json(6), nlohmann::json("r2")})
        values += r[id]["board"].get<std::string>() + "=" + r[id]["value"].dump() + " ";
    EXPECT_EQ(values, "b1=1 b2=2 b1=1 b2=2 b2=2 ");
    EXPECT_LT(r.at("w1"), r.at(5)); // one board's commands in order
    EXPECT_EQ(r[7]["error"].get<std::string>().rfind("line 7: not a JSON request", 0), 0u);
    EXPECT_EQ(r[8]["error"], "line 8: no board named b3; open it with 'open b3 PORT'");
    EXPECT_EQ(r[9]["error"], "unknown command 'frobnicate'");
    EXPECT_EQ(r.at(10), 9u); // wait: after all that came before
    EXPECT_EQ(r["x"]["error"], "line 12: 'read' takes no \"colour\"");
    EXPECT_EQ(r["d"]["registers"].size(), 2u);
    EXPECT_EQ(
        r["t"]["error"].dump() + r["n"]["error"].dump(),
        R"("line 14: \"cmd\" must be a string or a whole number""line 15: the request has no \"cmd\"")");
    EXPECT_EQ(boards[1].Register(0x20, 0x1A), 2);
}

TEST_F(EvbCtlSession, ABoardThatHangsUpMidCommandFailsAloneAndTheOtherGoesOn) {
    boards[0].DelayReplies(std::chrono::seconds(60));
    std::jthread hangUp([&] {
        if (boards[0].WaitForFrames(1, std::chrono::seconds(10))) boards[0].HangUp();
    });
    const SessionRun r =
        Session(open() + "b1: dump\nb2: write 0x10 7\nb1: read 1\nb2: read 0x10\n", {"--timeout", "60000"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r[3]["error"], "the port closed (hang-up) before the board answered");
    EXPECT_EQ(r[5]["error"], "the board's port " + boards[0].DevicePath() + " has gone");
    EXPECT_EQ(r[6]["value"], 7);
}

TEST_F(EvbCtlSession, EndOfInputWhileASendRunsFinishesTheSendAndClosesItsBatch) {
    const TempDir dir;
    const std::string file = dir.write("100.txt", Repeat(":W1000@\n", 100));
    const SessionRun r = Session("send " + file + "\n", {"--port", boards[0].DevicePath()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r[1]["frames"], 102);
    EXPECT_EQ(boards[0].Frames().size(), 102u);
    EXPECT_EQ(boards[0].Frames().back().record[0], 0x06);
}

// Ctrl+C stops the session's sends after their current line, each batch closed with its end frame.
TEST_F(EvbCtlSession, CtrlCStopsASendAndClosesItsBatch) {
    TalonComm::TPacedLineIo paced(19200);
    const TempDir dir;
    std::istringstream in("send " + dir.write("512.txt", Repeat(":W0000@\n", 512)) + "\n");
    std::ostringstream out, err;
    std::jthread interrupter([&] {
        if (boards[0].WaitForFrames(50, std::chrono::seconds(10))) ::kill(::getpid(), SIGINT);
    });
    EXPECT_EQ(evbctl::Run({"--port", boards[0].DevicePath(), "session", "--json"}, in, out, err, &paced),
              130);
    interrupter.join();
    const nlohmann::json send = nlohmann::json::parse(out.str().substr(out.str().find("\n{\"id\":1")));
    const std::size_t frames = send["frames"]; // begin, the lines sent, end
    EXPECT_LT(frames, 100u);
    ASSERT_TRUE(boards[0].WaitForFrames(frames, std::chrono::seconds(5)));
    EXPECT_EQ(boards[0].Frames().size(), frames);
    EXPECT_EQ(boards[0].Frames().back().record[0], 0x06);
}

// Without --json: each answer's lines lead with its line number and board, and end with its exit
// status; the session's own commands and the commands that need no board are answered too.
TEST_F(EvbCtlSession, TextAnswersCarryTheLineAndTheBoardAndSessionCommandsAreCheckedAsTheyCome) {
    std::istringstream in(open() + "b1: write 0x1A 3\nwait\ncheck " + kExample + R"(
open b1 /dev/null
open b3
close b1
b1: read 1
close b4
send "no such file
read 1
{"cmd": "read"}
b2: session
b2: close
)");
    std::ostringstream out, err;
    EXPECT_EQ(evbctl::Run({"session"}, in, out, err, nullptr), 2);
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    const std::string summary = kExample +
                                ": 9 command lines, 6 writes, 1 delay, 1 G step, 1 C line, 10 frames, 104 "
                                "ms on the wire at 19200 baud";
    std::vector<std::string> want{"1 b1: exit 0",  "2 b2: exit 0", "3 b1: WriteReg:   Reg0x1A = 0x03",
                                  "3 b1: exit 0",  "4 -: exit 0",  "5 -: " + summary,
                                  "5 -: exit 0",   "6 -: exit 2",  "7 -: exit 2",
                                  "8 b1: exit 0",  "9 b1: exit 2", "10 -: exit 2",
                                  "11 -: exit 2",  "12 -: exit 2", "13 -: exit 2",
                                  "14 b2: exit 2", "15 b2: exit 0"};
    std::sort(lines.begin(), lines.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(lines, want) << out.str();
    for (const char* refusal :
         {"9 b1: evbctl: line 9: no board named b1", "11 -: evbctl: line 11: a quote is not closed",
          "13 -: evbctl: line 13: a JSON request needs 'session --json'"})
        EXPECT_NE(err.str().find(refusal), std::string::npos) << err.str();
}

// "record start" keeps a board's writes until "record stop FILE" saves them as a configuration
// file that checks clean; the other board's writes are not in it.
TEST_F(EvbCtlSession, ARecordingOfABoardsWritesIsSavedAsAFileThatChecksClean) {
    const TempDir dir;
    const std::string file = (dir.path / "rec.txt").string();
    const SessionRun r = Session(open() + "b1: record stop " + file + "\nb1: record start\nb1: write 0x1A 5\nb2: write 0x1B 6\n" +
                                 R"({"id": "s", "board": "b1", "cmd": "record", "action": "stop", "file": ")" + file + "\"}\nb1: record\n");
    EXPECT_EQ(r[3]["error"], "no recording was started: 'record start' first");
    EXPECT_EQ(r["s"]["writes"], 1);
    EXPECT_EQ(r["s"]["files"], nlohmann::json::array({file}));
    EXPECT_EQ(r[8]["error"], "record takes 'start', or 'stop FILE'");
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(:W1A05@ Reg0x1A = 0x05 \(\d\d:\d\d:\d\d\.\d{3}, evbctl write\)\r\n)"))) << text;
    std::ostringstream out, err;
    std::istringstream none;
    EXPECT_EQ(evbctl::Run({"check", "--strict", file}, none, out, err, nullptr), 0) << err.str();
}

} // namespace
