// The checker of configuration text: one row per diagnostic, and what a checked text yields.

#include "BoardLink.h" // Repeat
#include "protocol/ConfigCheck.h"

using evb::ConfigTextEnd;
using namespace std::string_literals;

namespace {

struct CheckCase {
    const char* name;
    std::string text;
    std::string diagnostics; // as formatted for the file "f.txt"; empty: clean
    ConfigTextEnd end = ConfigTextEnd::Complete;
    int highest = -1;
    int lineLimit = evb::kConfigLineLimit;
};

class ConfigCheckTable : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ConfigCheckTable, ReportsEachProblemAtItsLine) {
    const CheckCase& c = GetParam();
    const evb::ConfigCheckOptions options{.lineLimit = c.lineLimit, .end = c.end, .highestAddress = c.highest};
    EXPECT_EQ(evb::CheckConfigText(c.text, options).format("f.txt"), c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigCheck, ConfigCheckTable,
    ::testing::Values(
        CheckCase{"cleanLowerCaseAndCLines", ":w1a2b@ gain\n:C@\n:d00FF@\n:g0102@\nend\n", ""},
        CheckCase{"digitMissing", ":W008@\n",
                  "f.txt:1: error: '@' after only 3 hexadecimal digits: a W line needs four\n"},
        CheckCase{"letterForDigit", ":W0102@\n:W0o80@\n",
                  "f.txt:2: error: 'o' in column 4 is not a hexadecimal digit\n"},
        CheckCase{"controlByteAsDigit",
                  ":g01\x01"
                  "2@\n",
                  "f.txt:1: error: byte 0x01 in column 5 is not a hexadecimal digit\n"},
        CheckCase{"atNotRightAfterTheDigits", ":D12345@\n",
                  "f.txt:1: error: '@' must follow the four digits right away; column 7 holds '5'\n"},
        CheckCase{"lineEndsInTheDigits", ":G01\n",
                  "f.txt:1: error: the line ends after 2 of the four hexadecimal digits\n"},
        CheckCase{"lineWithoutAt", ":W0102\n",
                  "f.txt:1: error: the line ends without the '@' after the four digits\n"},
        CheckCase{"unknownLetter", ":X0102@\n:W0304@\n",
                  "f.txt:1: warning: unknown command letter 'X': the line is counted, not sent\n"},
        CheckCase{
            "blankLineEndsTheBlock", ":W0001@\n\n:W0002@\n# note\n:W0003@\n",
            "f.txt:2: warning: the command block ends here (the line does not begin with ':'): 2 command "
            "lines after it are not sent\n"},
        CheckCase{
            "registerAboveTheChip", ":W4C00@\n:W4D00@\n",
            "f.txt:2: warning: register 0x4D is above the chip's highest register 0x4C; the write is sent\n",
            ConfigTextEnd::Complete, 0x4C},
        CheckCase{"cutByTheBuffer", ":W0102@\n:W",
                  "f.txt:2: warning: line cut off by the 4096-byte buffer limit: it is "
                  "neither sent nor counted\n",
                  ConfigTextEnd::BufferFull},
        CheckCase{"bufferEndingAtALineEnd", ":W0102@\n", "", ConfigTextEnd::BufferFull},
        CheckCase{"cutByANul", ":W0102@\n:W01\0:W0304@\n"s,
                  "f.txt:2: warning: line cut off by a NUL byte: it is neither sent nor counted\n"},
        CheckCase{"lineLimit", Repeat(":W0000@\n", 501),
                  "f.txt:500: warning: the limit of 500 lines is reached here: 1 command line after it is "
                  "not sent\n",
                  ConfigTextEnd::Complete, -1, evb::kPresetLineLimit}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigCheck, CountsTheBatchAndItsSendablePart) {
    const std::string text = ":W0102@\n:D0064@\n:G0102@\n:C0000@\n:W0105@\n:W";
    const evb::ConfigCheck check = evb::CheckConfigText(text, {.end = ConfigTextEnd::BufferFull});
    EXPECT_FALSE(check.hasErrors());
    EXPECT_EQ(check.commandLines(), 5);
    EXPECT_EQ(check.writes, 2);
    EXPECT_EQ(check.delays, 1);
    EXPECT_EQ(check.gSteps, 1);
    EXPECT_EQ(check.countOnly, 1);
    EXPECT_EQ(check.frames(), 6);
    EXPECT_EQ(check.sendable(text), text.substr(0, text.size() - 2));
}

TEST(ConfigCheck, NamesTheLinesWithErrors) {
    const evb::ConfigCheck check = evb::CheckConfigText(":W0102@\n:W01@\n:W0102@\n:W 102@\n:W0o02@\n");
    EXPECT_EQ(check.errorCount(), 3);
    EXPECT_EQ(check.errorLines(), "2, 4 and 5");
}

} // namespace
