// Configuration text: parsing, sending through the simulated board, and loading files.

#include "BoardLink.h"
#include "protocol/Command.h"
#include "protocol/ConfigLines.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace std::chrono_literals;
using evb::ConfigRecord;
using namespace std::string_literals;

namespace {

constexpr auto kWait = 10s;
const std::string kColon = "\xEF\xBC\x9A";

std::string Head(const ConfigRecord& r) {
    return std::string(r.data(), 6);
}

// --- parsing ---

struct ParseCase {
    const char* name;
    std::string text;
    int limit;
    int commandLines;
    std::vector<std::string> heads; // bytes 0..5 of the first records
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, CountsTheLeadingCommandBlock) {
    const auto records = evb::ParseConfigLines(GetParam().text, GetParam().limit);
    EXPECT_EQ(evb::CountCommandLines(records), GetParam().commandLines);
    ASSERT_GE(records.size(), GetParam().heads.size());
    for (std::size_t i = 0; i < GetParam().heads.size(); ++i)
        EXPECT_EQ(Head(records[i]), GetParam().heads[i]) << i;
}

std::string Repeat(const std::string& line, int times) {
    std::string s;
    for (int i = 0; i < times; ++i)
        s += line;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    ConfigLines, ParseTest,
    ::testing::Values(
        ParseCase{
            "threeLinesThenText", ":W0080@\n:D0064@\n:G0102@\nend\n", 512, 3, {":W0080", ":D0064", ":G0102"}},
        ParseCase{"commentAfterAt", ":W1A2B@ set gain\n", 512, 1, {":W1A2B"}},
        ParseCase{"firstLineComment", "# gains\n:W1A2B@\n", 512, 0, {}},
        ParseCase{"emptyText", "", 512, 0, {}},
        ParseCase{"emptyLineEndsBlock", ":W0001@\n\n:W0002@\n", 512, 1, {":W0001"}},
        ParseCase{"lastLineWithoutLineEnd", ":W0001@\n:W0002@", 512, 2, {":W0001", ":W0002"}},
        ParseCase{"textStopsAtNul", std::string(":W0001@\n:W0002@\n\0:W0003@\n", 24), 512, 2, {}},
        ParseCase{"charactersBeforeAtIgnored", ":W1234567@\n:W0001@\n", 512, 2, {":W1234", ":W0001"}},
        ParseCase{
            "lineWithoutAtStillCounts", ":W12\n:W0001@\n", 512, 2, {":W12\0\0"s.substr(0, 6), ":W0001"}},
        ParseCase{"lowerCaseLetters", ":w0102@\n:d0003@\n:g0405@\n", 512, 3, {":w0102", ":d0003", ":g0405"}},
        ParseCase{"lineLimit", Repeat(":W0000@\n", 600), 512, 512, {}},
        ParseCase{"presetLineLimit", Repeat(":W0000@\n", 600), 500, 500, {}},
        // 101 characters without '@' or line end close a record; the next begins right after.
        ParseCase{
            "overLongLineSplits", ":" + std::string(100, 'A') + ":W0102@\n", 512, 2, {":AAAAA", ":W0102"}},
        ParseCase{"overLongNonCommandTail",
                  ":" + std::string(100, 'A') + "xyz@\n:W0102@\n",
                  512,
                  1,
                  {":AAAAA", "xyz@\0\0"s.substr(0, 6)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigLinesParse, RecordEndsWithLineFeedOnlyOnceTheAtWasMet) {
    const auto records = evb::ParseConfigLines(":W0102@\n:W03\n", 512);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][6], '@');
    EXPECT_EQ(records[0][7], '\n');
    EXPECT_EQ(records[1][7], '\0');
}

TEST(ConfigLinesParse, FiveHundredTwelveEightByteLinesFillTheBufferExactly) {
    std::string text;
    for (int i = 0; i < 512; ++i)
        text += ":W" + evb::Hex2(static_cast<unsigned>(i & 0xFF)) + "00@\n";
    ASSERT_EQ(text.size(), evb::kConfigBufferSize);
    const auto records = evb::ParseConfigLines(text, evb::kConfigLineLimit);
    EXPECT_EQ(evb::CountCommandLines(records), 512);
    EXPECT_EQ(Head(records[511]), ":WFF00");
}

// --- sending ---

struct Sent {
    std::vector<std::array<std::uint8_t, 18>> records;
};

std::array<std::uint8_t, 18> Rec(std::initializer_list<std::uint8_t> leading) {
    std::array<std::uint8_t, 18> r{};
    std::size_t i = 0;
    for (auto b : leading)
        r[i++] = b;
    return r;
}

std::vector<std::array<std::uint8_t, 18>> Records(const evbsim::SimBoard& board) {
    std::vector<std::array<std::uint8_t, 18>> out;
    for (const auto& f : board.Frames())
        out.push_back(f.record);
    return out;
}

TEST(ConfigLinesSend, FileOfWriteDelayAndGLinesSendsTheBatchAndReports) {
    BoardLink link;
    std::vector<int> progress;
    int maximum = -1;
    evb::ConfigSendHooks hooks{[&](int m) { maximum = m; }, [&](int p) { progress.push_back(p); }, nullptr};
    const auto r = evb::SendConfigLines(":W0080@\n:D0064@\n:G0102@\nend\n", 512, 1, true, hooks);
    EXPECT_EQ(r.commandLines, 3);
    EXPECT_EQ(r.framesNotSent, 0);
    EXPECT_FALSE(r.aborted);
    ASSERT_TRUE(link.board.WaitForFrames(5, kWait));
    EXPECT_EQ(Records(link.board),
              (std::vector<std::array<std::uint8_t, 18>>{
                  Rec({0x04, 0x00, 0x01}), Rec({0x05, 0x00, 0x00, 0x80}), Rec({0x05, 0x07, 0x00, 0x64}),
                  Rec({0x05, 0x0B, 0x01, 0x02}), Rec({0x06})}));
    EXPECT_EQ(link.report.Console(), "SET_TXT_LENGTH" + kColon + "3\r\nSend the Confuguration  \r\n");
    EXPECT_EQ(maximum, 3);
    EXPECT_EQ(progress, (std::vector<int>{0, 1, 2, 0}));
}

TEST(ConfigLinesSend, CLineCountsButSendsNothingAndLowerCaseActsAsUpper) {
    BoardLink link;
    const auto r = evb::SendConfigLines(":C1234@\n:w1A2B@ set gain\n", 512, -1, false);
    EXPECT_EQ(r.commandLines, 2);
    ASSERT_TRUE(link.board.WaitForFrames(3, kWait));
    EXPECT_EQ(Records(link.board), (std::vector<std::array<std::uint8_t, 18>>{
                                       Rec({0x04, 0x00, 0x02}), Rec({0x05, 0x00, 0x1A, 0x2B}), Rec({0x06})}));
    EXPECT_EQ(link.report.Console(), "");
}

TEST(ConfigLinesSend, TextWithoutCommandLinesSendsOnlyBeginAndEnd) {
    BoardLink link;
    const auto r = evb::SendConfigLines("# nothing here\n:W0102@\n", 512, 1, true);
    EXPECT_EQ(r.commandLines, 0);
    ASSERT_TRUE(link.board.WaitForFrames(2, kWait));
    EXPECT_EQ(Records(link.board),
              (std::vector<std::array<std::uint8_t, 18>>{Rec({0x04, 0x00, 0x01}), Rec({0x06})}));
    EXPECT_EQ(link.report.Console(), "SET_TXT_LENGTH" + kColon + "0\r\nSend the Confuguration  \r\n");
}

TEST(ConfigLinesSend, UnknownLetterIsSkipped) {
    BoardLink link;
    const auto r = evb::SendConfigLines(":X0102@\n:W0304@\n", 512, 1, false);
    EXPECT_EQ(r.commandLines, 2);
    ASSERT_TRUE(link.board.WaitForFrames(3, kWait));
    EXPECT_EQ(Records(link.board)[1], Rec({0x05, 0x00, 0x03, 0x04}));
}

TEST(ConfigLinesSend, WithThePortClosedEveryFrameIsReportedAndNothingSent) {
    BoardLink link(LinkOptions{.open = false});
    std::vector<int> progress;
    evb::ConfigSendHooks hooks{nullptr, [&](int p) { progress.push_back(p); }, nullptr};
    const auto r = evb::SendConfigLines(":W0080@\n:D0064@\n", 512, 1, true, hooks);
    EXPECT_EQ(r.framesNotSent, 4);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(link.report.warnings.size(), 4u);
    EXPECT_EQ(progress, std::vector<int>{0}); // only the final reset
}

TEST(ConfigLinesSend, HangUpDuringTheSendStopsItAndSaysHowFarItGot) {
    BoardLink link;
    std::string text;
    for (int i = 0; i < 512; ++i)
        text += ":W" + evb::Hex2(static_cast<unsigned>(i & 0xFF)) + "00@\n";
    evb::ConfigSendHooks hooks{nullptr, [&](int p) {
                                   if (p == 10) link.board.HangUp();
                               }, nullptr};
    const auto r = evb::SendConfigLines(text, 512, 1, true, hooks);
    EXPECT_TRUE(r.aborted);
    EXPECT_FALSE(link.device.fGetActive());
    const std::string console = link.report.Console();
    EXPECT_NE(console.find("Send stopped"), std::string::npos) << console;
    EXPECT_EQ(console.find("Send the Confuguration"), std::string::npos) << console;
    // Far fewer attempts than lines: the rest was not tried.
    EXPECT_LT(link.report.warnings.size() + 11, 512u);
}

// --- loading ---

class LoadTextFileTest : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(dir);
        const auto p = dir / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("evb-load-" + std::to_string(::getpid()));
};

TEST_F(LoadTextFileTest, CrLfBecomesLfAndALoneCrStays) {
    const auto load = evb::LoadTextFile(Write("a.txt", ":W0102@\r\n:W0304@\rx\r\n\r"), 4096);
    ASSERT_TRUE(load.ok) << load.error;
    EXPECT_EQ(load.text, ":W0102@\n:W0304@\rx\n\r");
    EXPECT_EQ(load.droppedBytes, 0u);
}

TEST_F(LoadTextFileTest, FiveHundredTwelveCrLfLinesFitTheBufferOnceFolded) {
    std::string bytes;
    for (int i = 0; i < 512; ++i)
        bytes += ":W0000@\r\n";
    const auto load = evb::LoadTextFile(Write("full.txt", bytes + ":W0101@\r\n"), evb::kConfigBufferSize);
    ASSERT_TRUE(load.ok);
    EXPECT_EQ(load.text.size(), evb::kConfigBufferSize);
    EXPECT_EQ(load.droppedBytes, 8u);
}

TEST_F(LoadTextFileTest, CrLfSplitAcrossTheReadChunkIsStillFolded) {
    std::string bytes(8191, 'a');
    bytes += "\r\nb";
    const auto load = evb::LoadTextFile(Write("chunk.txt", bytes), 20000);
    ASSERT_TRUE(load.ok);
    EXPECT_EQ(load.text, std::string(8191, 'a') + "\nb");
}

TEST_F(LoadTextFileTest, MissingFileAndDirectoryGiveAClearError) {
    const auto missing = evb::LoadTextFile((dir / "none.txt").string(), 4096);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("No such file"), std::string::npos) << missing.error;
    std::filesystem::create_directories(dir);
    const auto directory = evb::LoadTextFile(dir.string(), 4096);
    EXPECT_FALSE(directory.ok);
    EXPECT_NE(directory.error.find("directory"), std::string::npos) << directory.error;
}

TEST_F(LoadTextFileTest, FileNameWithShellCharactersIsJustAName) {
    const auto p = Write("a; touch pwned $(id).txt", ":W0102@\n");
    const auto load = evb::LoadTextFile(p, 4096);
    ASSERT_TRUE(load.ok) << load.error;
    EXPECT_EQ(load.text, ":W0102@\n");
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

} // namespace
