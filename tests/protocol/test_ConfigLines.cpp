// Configuration text: parsing, sending through the simulated board, and loading files.

#include "BoardLink.h"
#include "protocol/ConfigLines.h"
#include "tests/TempDir.h"

#include <filesystem>
#include <fstream>

using namespace std::string_literals;

namespace {

// --- parsing ---

struct ParseCase {
    const char* name;
    std::string text;
    int commandLines;
    std::string records; // the first records, 8 bytes each
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, CountsTheLeadingCommandBlockAndCopiesEachRecord) {
    const auto records = evb::ParseConfigLines(GetParam().text, evb::kConfigLineLimit);
    EXPECT_EQ(evb::CountCommandLines(records), GetParam().commandLines);
    std::string first;
    for (std::size_t i = 0; i < records.size() && first.size() < GetParam().records.size(); ++i)
        first.append(records[i].data(), 8);
    EXPECT_EQ(first, GetParam().records);
}

// A row for each line rule.
INSTANTIATE_TEST_SUITE_P(
    ConfigLines, ParseTest,
    ::testing::Values(
        // the line feed is part of a record only once its '@' was met
        ParseCase{"lineFeedOnlyAfterAt", ":W0001@\n:W03\n:W02@", 3, ":W0001@\n:W03\0\0\0\0:W02@\0\0\n"s},
        ParseCase{"charactersBeforeAtIgnored", ":W1234567@\n:W0001@\n", 2, ":W12345\n:W0001@\n"},
        // a comment after '@', however long, belongs to its line
        ParseCase{"longCommentAfterAt", ":W0001@" + std::string(120, 'x') + "\n:W0002@\n", 2, ":W0001@\n:W0002@\n"},
        ParseCase{"nulEndsTheText", ":W0001@\n:W00\0:W0002@\n"s, 2, ":W0001@\n:W00\0\0\0\0"s},
        // a record is closed after 101 characters (none of them '@' or a line end); the next
        // begins right after
        ParseCase{"overLongLineSplits", ":" + std::string(100, 'A') + ":W0102@\n", 2, ":AAAAAA\0:W0102@\n"s}),
    [](const auto& info) { return std::string(info.param.name); });

// --- sending ---

struct SendCase {
    const char* name;
    std::string text;
    int beginCount;
    bool report;
    int commandLines;
    const char* records;
    std::string console;
    const char* progress; // the lines that sent a frame, then the reset
};

class SendTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendTest, LinesBecomeOneBatchAtTheBoard) {
    BoardLink link;
    int maximum = -1;
    std::string steps; // the progress reported, in order
    const auto step = [&](int p) { steps += (steps.empty() ? "" : " ") + std::to_string(p); };
    const SendCase& c = GetParam();
    const auto r = evb::SendConfigLines(c.text, 512, c.beginCount, c.report, {[&](int m) { maximum = m; }, step, {}});
    EXPECT_EQ(r.commandLines, c.commandLines);
    EXPECT_EQ(r.framesNotSent, 0);
    EXPECT_FALSE(r.aborted);
    ASSERT_TRUE(link.board.WaitForFrames(Recs(c.records).size(), 10s));
    EXPECT_EQ(Records(link.board), Recs(c.records));
    EXPECT_EQ(link.console, c.console);
    EXPECT_EQ(maximum, c.commandLines);
    EXPECT_EQ(steps, c.progress);
}

std::string Reported(int n) {
    return "SET_TXT_LENGTH\xEF\xBC\x9A" + std::to_string(n) + "\r\nSend the Confuguration  \r\n";
}

INSTANTIATE_TEST_SUITE_P(
    ConfigLines, SendTest,
    ::testing::Values(
        SendCase{"writeDelayAndG", ":W0080@\n:D0064@\n:G0102@\nend\n", 1, true, 3,
                 "04 00 01; 05 00 00 80; 05 07 00 64; 05 0B 01 02; 06", Reported(3), "0 1 2 0"},
        SendCase{"cLineCountsButSendsNothingAndLowerCaseActsAsUpper", ":C1234@\n:w1A2B@ set gain\n", -1,
                 false, 2, "04 00 02; 05 00 1A 2B; 06", "", "1 0"},
        SendCase{"noCommandLines", "# nothing here\n:W0102@\n", 1, true, 0, "04 00 01; 06", Reported(0), "0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigLinesSend, HangUpDuringTheSendStopsItAndSaysHowFarItGot) {
    BoardLink link;
    const auto hangUpAtLine10 = [&](int p) {
        if (p == 10) link.board.HangUp();
    };
    const auto r = evb::SendConfigLines(Repeat(":W0000@\n", 512), 512, 1, true, {nullptr, hangUpAtLine10, nullptr});
    EXPECT_TRUE(r.aborted);
    EXPECT_FALSE(link.device.fGetActive());
    EXPECT_NE(link.console.find("Send stopped"), std::string::npos) << link.console;
    EXPECT_EQ(link.console.find("Send the Confuguration"), std::string::npos) << link.console;
    EXPECT_LT(link.warnings.size() + 11, 512u) << "far fewer attempts than lines: the rest was not tried";
}

// --- loading ---

TEST(LoadTextFile, FoldsCrLfIntoTheCapacityAndMissingFileOrDirectoryGiveAClearError) {
    const TempDir dir;
    const std::string file = (dir.path / "f.txt").string();
    EXPECT_NE(evb::LoadTextFile(file, 4096).error.find("No such file"), std::string::npos);
    EXPECT_NE(evb::LoadTextFile(dir.path.string(), 4096).error.find("directory"), std::string::npos);
    const struct {
        std::string bytes;
        std::size_t capacity;
        std::string text;
        std::size_t dropped;
    } cases[] = {
        {":W0102@\r\n:W0304@\rx\r\n\r", 4096, ":W0102@\n:W0304@\rx\n\r", 0},          // a lone CR stays
        {"\xEF\xBB\xBF:W0102@\r\n", 4096, ":W0102@\n", 0},                            // byte order mark
        {std::string(8191, 'a') + "\r\nb", 20000, std::string(8191, 'a') + "\nb", 0}, // across a chunk
        // 512 lines of CR LF fit the buffer once folded; the line after them is dropped
        {Repeat(":W0000@\r\n", 513), evb::kConfigBufferSize, Repeat(":W0000@\n", 512), 8}};
    for (const auto& c : cases) {
        std::ofstream(file, std::ios::binary) << c.bytes;
        const auto load = evb::LoadTextFile(file, c.capacity);
        EXPECT_TRUE(load.ok) << load.error;
        EXPECT_EQ(load.text, c.text);
        EXPECT_EQ(load.droppedBytes, c.dropped);
    }
}

} // namespace
