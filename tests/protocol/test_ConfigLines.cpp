// Configuration text: parsing, checking (a row per diagnostic, and what a checked text yields),
// sending through the simulated board, loading files, and register snapshots (the saved file,
// the comparison with a file and the restore text).

#include "BoardLink.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"
#include "protocol/RegisterSnapshot.h"
#include "protocol/WriteRecording.h"
#include "tests/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using evb::ConfigTextEnd;
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

// --- checking ---

struct CheckCase {
    const char* name;
    std::string text;
    std::string diagnostics; // as formatted for the file "f.txt"; empty: clean
    ConfigTextEnd end = ConfigTextEnd::Complete;
    int highest = -1;
    int lineLimit = evb::kConfigLineLimit;
    bool strict = false;
};

// Ten diagnostics of one kind, then the rest summarised.
std::string TwelveUnknownLetters() {
    std::string out;
    for (int line = 1; line <= 10; ++line)
        out += "f.txt:" + std::to_string(line) + ": warning: unknown command letter 'X': the line is counted, not sent\n";
    return out + "f.txt:11: warning: \u2026 and 2 more lines like this\n";
}

const std::string kCr = "CR alone ends a line here (classic Mac line ends), and only LF or CR LF end lines: ";

class ConfigCheckTable : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ConfigCheckTable, ReportsEachProblemAtItsLine) {
    const CheckCase& c = GetParam();
    const evb::ConfigCheckOptions options{
        .lineLimit = c.lineLimit, .end = c.end, .highestAddress = c.highest, .strict = c.strict};
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
                  ConfigTextEnd::Complete, -1, evb::kPresetLineLimit},
        // Every line written that is not sent is named.
        CheckCase{"crOnlyLineEnds", ":W0001@\r:W0002@\r:W0003@\r",
                  "f.txt:1: warning: " + kCr + "2 command lines after such a CR are not sent; save the file with LF "
                  "or CR LF line ends\n"},
        CheckCase{"crOnlyLineInAnLfFile", ":W0001@\n:W0002@\r:W0003@\n:W0004@\n",
                  "f.txt:2: warning: " + kCr + "1 command line after such a CR is not sent; save the file with LF or "
                  "CR LF line ends\n"},
        CheckCase{"indentedCommandLines", ":W0001@\n  :W0002@\n:W0003@\n\t:W0004@\n",
                  "f.txt:2: warning: the command block ends here (the line is indented: a command line begins with "
                  "':' in its first column): 3 command lines from here on are not sent\n"},
        CheckCase{"utf16", "\xFF\xFE:", "f.txt:1: error: UTF-16 text: save the file as ASCII or UTF-8\n", ConfigTextEnd::Nul},
        CheckCase{"utf16WithoutMark", ":", "f.txt:1: error: UTF-16 text: save the file as ASCII or UTF-8\n", ConfigTextEnd::Nul},
        CheckCase{"empty", "", "f.txt:1: warning: no command line: only the batch's begin and end are sent\n"},
        CheckCase{"commentsOnly", "# gains\n", "f.txt:1: warning: no command line: only the batch's begin and end are sent\n"},
        CheckCase{"notText", "\x89PNG\n\x1A\n",
                  "f.txt:1: warning: not a text file: no command line; only the batch's begin and end are sent\n",
                  ConfigTextEnd::Nul},
        CheckCase{"repeatedWarningsSummarised", Repeat(":X0000@\n", 12), TwelveUnknownLetters()},
        CheckCase{"strictWarningsAreErrors", ":X0102@\n",
                  "f.txt:1: error: unknown command letter 'X': the line is counted, not sent\n", ConfigTextEnd::Complete,
                  -1, evb::kConfigLineLimit, true}),
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
    EXPECT_EQ(r.framesNotSent, 0); // an aborted send would lack the end frame
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
        SendCase{"noCommandLines", "# nothing here\n:W0102@\n", 1, true, 0, "04 00 01; 06", Reported(0),
                 "0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigLinesSend, HangUpDuringTheSendStopsItAndSaysHowFarItGot) {
    BoardLink link;
    const auto hangUpAtLine10 = [&](int p) {
        if (p == 10) link.board.HangUp();
    };
    const auto r = evb::SendConfigLines(Repeat(":W0000@\n", 512), 512, 1, true, {nullptr, hangUpAtLine10, nullptr});
    EXPECT_TRUE(r.aborted); // the sender aborts only once the port is no longer active
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
        const auto load = evb::LoadTextFile(dir.write("f.txt", c.bytes), c.capacity);
        EXPECT_TRUE(load.ok) << load.error;
        EXPECT_EQ(load.text, c.text);
        EXPECT_EQ(load.droppedBytes, c.dropped);
    }
}

} // namespace

// --- register snapshots ---

TEST(RegisterSnapshot, AllRegistersSaveAsACleanFileThatFitsTheBufferAndReadsBack) {
    std::vector<std::uint8_t> values(256);
    for (std::size_t r = 0; r < values.size(); ++r)
        values[r] = static_cast<std::uint8_t>(r * 7 + 3);
    const std::string text = evb::SnapshotText(values, {"KV2580", 0x1A, "2026-12-07 10:00:00"});
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              ":W0003@ KV2580, address 0x1A, 256 registers, 2026-12-07 10:00:00\r\n");
    EXPECT_EQ(text.substr(text.size() - 9), ":WFFFC@\r\n");

    const TempDir dir;
    const std::string path = dir.write("snapshot.txt", "an older, longer file that the snapshot replaces whole\n" +
                                                           std::string(5000, 'x'));
    ASSERT_EQ(evb::SaveTextFile(path, text), "");
    const evb::CheckedConfigFile f = evb::LoadCheckedConfigFile(path);
    ASSERT_TRUE(f.load.ok); // and all of it fits: a cut would lose the last command lines
    EXPECT_EQ(f.check.format(path), "");
    EXPECT_EQ(f.check.commandLines(), 256);
    EXPECT_EQ(evb::ExpectedRegisters(f.check), evb::ExpectedRegisters(values));
}

// Every kind of target: a regular file is replaced whole and keeps its mode, a link is
// followed, anything else is refused and left as it was; a failed save leaves no stray file.
TEST(SaveTextFile, ReplacesRegularFilesFollowsLinksAndRefusesEverythingElse) {
    namespace fs = std::filesystem;
    struct Row {
        const char* name;
        std::function<void(const fs::path&)> make; // makes the target "t" in the directory
        const char* error;                         // what the message holds; empty: saved
        const char* written;                       // the file that holds the text afterwards
        fs::perms perms;                           // that file's permission bits when saved
    };
    const auto regular = [](const fs::path& d) {
        std::ofstream(d / "t") << "an older, longer text";
        fs::permissions(d / "t", fs::perms::owner_read | fs::perms::owner_write);
    };
    const auto own = fs::perms::owner_read | fs::perms::owner_write;
    const Row rows[] = {
        {"regular file keeps mode 0600", regular, "", "t", own},
        {"link to a file", [&](const fs::path& d) { regular(d); fs::rename(d / "t", d / "real"); fs::create_symlink("real", d / "t"); }, "", "real", own},
        {"link to a link to nothing", [](const fs::path& d) { fs::create_symlink("l2", d / "t"); fs::create_symlink(d / "new", d / "l2"); }, "", "new", fs::perms::none},
        {"FIFO", [](const fs::path& d) { ASSERT_EQ(mkfifo((d / "t").c_str(), 0600), 0); }, "t: is a FIFO, not a regular file; nothing was saved", nullptr, {}},
        {"directory", [](const fs::path& d) { fs::create_directory(d / "t"); }, "t: is a directory, not a regular", nullptr, {}},
        {"link to a directory", [](const fs::path& d) { fs::create_directory(d / "dir"); fs::create_directory_symlink("dir", d / "t"); }, "is a directory", nullptr, {}},
        {"socket", [](const fs::path& d) {
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             std::snprintf(a.sun_path, sizeof a.sun_path, "%s", (d / "t").c_str());
             const int s = socket(AF_UNIX, SOCK_STREAM, 0);
             ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
             close(s);
         }, "t: is a socket", nullptr, {}},
        {"missing directory", [](const fs::path& d) { fs::remove(d / "t"); fs::create_symlink("no-such-dir/x", d / "t"); }, "t: No such file", nullptr, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        row.make(dir.path);
        const auto before = fs::symlink_status(dir.path / "t").type();
        const std::string error = evb::SaveTextFile((dir.path / "t").string(), "new text\n");
        if (*row.error == 0) {
            ASSERT_EQ(error, "");
            std::ifstream in(dir.path / row.written);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new text\n");
            EXPECT_TRUE(row.perms == fs::perms::none || fs::status(dir.path / row.written).permissions() == row.perms);
        } else {
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
        }
        EXPECT_EQ(fs::symlink_status(dir.path / "t").type(), before) << "the target itself stays what it was";
        std::size_t entries = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir.path))
            entries += e.path().extension() == ".part";
        EXPECT_EQ(entries, 0u) << "no temporary file left behind";
    }
}

TEST(RegisterSnapshot, ComparisonListsEachDifferenceAndSummarises) {
    struct Row {
        const char* file;
        std::vector<std::uint8_t> board;
        const char* diffs;
        const char* summary;
        const char* restore;
    } rows[] = {
        {":W0011@\n:W0122@\n", {0x11, 0x22}, "", "every register matches f.txt (2 registers compared)", ""},
        // The last write to a register wins; registers the file does not write are not compared.
        {":W0105@\n:W0107@\n:W02AA@\n", {0, 0x05, 0xAA, 9}, "Reg0x01: board 0x05, file 0x07\n",
         "1 of 2 registers differs from f.txt", ":W0107@\r\n"},
        {":W0001@\n:W0102@\n:W05FF@\n", {0, 0}, "Reg0x00: board 0x00, file 0x01\nReg0x01: board 0x00, file 0x02\n",
         "2 of 2 registers differ from f.txt (1 register of the file is beyond the 2 read)",
         ":W0001@\r\n:W0102@\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const evb::RegisterComparison c =
            evb::CompareRegisters(row.board, evb::ExpectedRegisters(evb::CheckConfigText(row.file)));
        std::string diffs;
        for (const evb::RegisterDiff& d : c.diffs)
            diffs += evb::FormatRegisterDiff(d) + "\n";
        EXPECT_EQ(diffs, row.diffs);
        EXPECT_EQ(evb::ComparisonSummary(c, "f.txt", static_cast<int>(row.board.size())), row.summary);
        EXPECT_EQ(evb::RestoreText(c.diffs), row.restore);
    }
}

// A recording longer than one buffer is saved as numbered files: each at most 512 lines and,
// folded, at most the buffer; each checks clean (as `evbctl check --strict`); together they
// hold every write in order. Kept pauses and a batch's delays become D lines.
TEST(WriteRecording, ALongRecordingSplitsIntoFilesThatEachFitOneBufferAndCheckClean) {
    using Kind = evb::RegisterWriteEvent::Kind;
    evb::WriteRecording recording;
    const auto t0 = std::chrono::system_clock::now();
    for (int i = 0; i < 1100; ++i)
        recording.Add({Kind::Write, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7), {}, 0, false,
                       "Write Register"},
                      t0 + std::chrono::milliseconds(i), i % 2 ? "ADC_VOL_L" : "");
    for (const auto& [byteLimit, files] : {std::pair<std::size_t, std::size_t>{1u << 20, 3}, {evb::kConfigBufferSize - 1, 15}}) {
        const std::vector<std::string> texts = recording.Texts({false, evb::kConfigLineLimit, byteLimit});
        ASSERT_EQ(texts.size(), files);
        int written = 0;
        for (const std::string& text : texts) {
            std::string folded = text;
            std::erase(folded, '\r');
            EXPECT_LE(folded.size(), byteLimit);
            evb::ConfigCheckOptions strict;
            strict.strict = true;
            const evb::ConfigCheck check = evb::CheckConfigText(folded, strict);
            EXPECT_TRUE(check.diagnostics.empty()) << check.format("recording");
            for (const evb::ConfigWrite& w : check.registerWrites())
                EXPECT_EQ(w.reg, written++ & 0xFF);
        }
        EXPECT_EQ(written, 1100);
    }
    EXPECT_EQ(recording.Texts({}).front().substr(0, 24), ":W0000@ Reg0x00 = 0x00 (");
    EXPECT_NE(recording.Texts({}).front().find(":W0107@ ADC_VOL_L = 0x07 ("), std::string::npos);

    evb::WriteRecording paused;
    paused.Add({Kind::Write, 0x1A, 0x05, {}, 0, false, ""}, t0);
    paused.Add({Kind::Delay, 0, 0, {}, 300, true, "Preset A1"}, t0 + std::chrono::milliseconds(100));
    const std::string text = paused.Texts({true}).front();
    EXPECT_NE(text.find("\r\n:D0064@ pause of 100 ms between writes\r\n:D012C@ pause of 300 ms ("), std::string::npos) << text;
    EXPECT_NE(text.find(", Preset A1)\r\n"), std::string::npos);
    EXPECT_EQ(evb::WriteRecording::FileNames("a.b/rec.txt", 2),
              (std::vector<std::string>{"a.b/rec-1.txt", "a.b/rec-2.txt"}));
    EXPECT_EQ(evb::WriteRecording::FileNames("a.b/rec", 2), (std::vector<std::string>{"a.b/rec-1", "a.b/rec-2"}));
}
