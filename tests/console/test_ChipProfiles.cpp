#include "console/ChipProfiles.h"
#include "protocol/Command.h"
#include "protocol/ConfigLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace evb;

namespace {

struct RowCase {
    std::int32_t code;
    int row;
    const char* windowCaption;
    std::uint8_t regCount;
    int dataRows;
    bool fullSetup;
};

const RowCase kRows[] = {
    {1120, 0, "KV1120 Evaluation", 0x4C, 5, true},
    {1150, 1, "KV1150 Evaluation", 0x0F, 1, true},
    {1160, 2, "KV1160 Evaluation", 0x0F, 1, true},
    {1167, 3, "KV1160L Evaluation", 0x0F, 1, true},
    {1162, 4, "KV1160E Evaluation", 0xFF, 16, true},
    {2210, 5, "KV2210 Evaluation", 0x4F, 5, true},
    {2215, 6, "KV2210S Evaluation", 0xFF, 16, true},
    {2220, 7, "KV2220 Evaluation", 0xFF, 16, false},
    {2330, 8, "KV2330 Evaluation", 0x3F, 4, true},
    {2440, 9, "KV2440 Evaluation", 0xFF, 16, true},
    {2450, 10, "KV2450 Evaluation", 0xFF, 16, true},
    {2460, 11, "KV2460 Evaluation", 0x53, 6, true},
    {2570, 12, "KV2570 && KV2570S Evaluation", 0x3D, 4, false},
    {2580, 13, "KV2580 Evaluation", 0x3D, 4, false},
    {2590, 14, "KV2590 Evaluation", 0x3D, 4, false},
    {2640, 15, "KV2640 Evaluation", 0x7F, 8, true},
    {2650, 16, "KV2650 Evaluation", 0x3D, 4, true},
    {2910, 17, "KV2910 Evaluation", 0x7F, 8, false},
    {2920, 18, "KV2920 Evaluation", 0x7F, 8, false},
    {2930, 19, "KV2930 Evaluation", 0x7F, 8, true},
    {8888, 20, "Corvane Evaluation", 0xFF, 16, true},
};

std::string shownButtons(const ChipProfile& p) {
    std::string s;
    for (int i = 0; i < kPresetButtonCount; ++i)
        if (p.captions[i]) s += (s.empty() ? "" : " ") + PresetButtonName(i);
    return s;
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

TEST(ChipProfileTable, EveryCodeFindsItsRowWithCaptionCountAndGridRows) {
    for (const RowCase& c : kRows) {
        SCOPED_TRACE(c.code);
        const int row = FindChipProfile(c.code);
        ASSERT_EQ(row, c.row);
        const ChipProfile& p = ChipProfileTable()[row];
        EXPECT_STREQ(p.windowCaption, c.windowCaption);
        EXPECT_EQ(p.regCount, c.regCount);
        EXPECT_EQ(GridDataRows(p.regCount), c.dataRows);
        EXPECT_EQ(p.fullSetup, c.fullSetup);
        // The group caption follows the window caption's chip name.
        std::string group = p.windowCaption;
        group.replace(group.find(" Evaluation"), std::string::npos, " Register Map");
        EXPECT_STREQ(p.groupCaption, group.c_str());
    }
}

TEST(ChipProfileTable, UnknownCodesFindNoRow) {
    for (std::int32_t code : {0, 1, 2214, 2216, 9999, -1120})
        EXPECT_EQ(FindChipProfile(code), kNoProfile) << code;
}

TEST(ChipProfileTable, ShownButtonsPerProfile) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {1120, "A1 A2 A3 A4 A5 A6 A7 A8 A9 B1 B2 C1 C2 C3"},
        {1150, "A1 A2 A3 A4 B1 B2"},
        {1160, "A1 A2 A3 A4 A5 A6 A7 B1 B2"},
        {1162, "A1 A2 A3 A4 A5 A6 A7 A8 B1 B2 B3 B4"},
        {2210, "A1 A2 A3 A4 B1"},
        {2215, "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 C1 C2 C3"},
        {2330, "A1 A2 A3 A4 A6 B1 B2 B3"},
        {2440, "A1 A2 A3 A4 A6 A7 A8 A9 B1 B2 B4 C1 C2 C3"},
        {2450, "A1 A2 A3 A4 A6 A7 A8 A9 A10 B1 B2 B4 C1 C2 C3"},
        {2460, "A1 A2 A3 A4 A5 A7 B1 B2 B3 B4 B5"},
        {2640, "A1 A2 A3 A4 A5 A6 A7 B1 B2 B3 C1 C2 C3"},
        {2650, "A1 A2 A3 A4 A5 A6 B1 B2"},
        {2930, "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 B5 B6 B7 B8"},
        {8888, "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 B5 B6 B7 B8 C1 C2 C3"},
    };
    for (const auto& [code, shown] : cases)
        EXPECT_EQ(shownButtons(ChipProfileTable()[FindChipProfile(code)]), shown) << code;
}

TEST(ChipProfileTable, CaptionsKeepDoubledAmpersandAndBlanks) {
    const ChipProfile& kv2330 = ChipProfileTable()[FindChipProfile(2330)];
    EXPECT_STREQ(kv2330.captions[1], "Record form LIN1 && RIN1");
    const ChipProfile& kv1160e = ChipProfileTable()[FindChipProfile(1162)];
    EXPECT_STREQ(kv1160e.captions[4], "Input 0DB:  AVDD=1V8");
    EXPECT_STREQ(kv1160e.captions[5], "Input 0DB:  AVDD=1V8 LP Mode");
    EXPECT_STREQ(ChipProfileTable()[FindChipProfile(2450)].captions[8], "ADC_AMIC_CH1");
    EXPECT_STREQ(ChipProfileTable()[FindChipProfile(8888)].captions[kButtonC1], "AutoPress Button");
}

TEST(ChipProfileTable, ButtonNamesAndAutoPressNumbers) {
    EXPECT_EQ(PresetButtonName(0), "A1");
    EXPECT_EQ(PresetButtonName(9), "A10");
    EXPECT_EQ(PresetButtonName(10), "B1");
    EXPECT_EQ(PresetButtonName(17), "B8");
    EXPECT_EQ(PresetButtonName(18), "C1");
    EXPECT_EQ(PresetButtonName(20), "C3");
    EXPECT_EQ(PresetButtonNumber(0), 1);
    EXPECT_EQ(PresetButtonNumber(10), 11);
    EXPECT_EQ(PresetButtonNumber(17), 18);
    EXPECT_EQ(PresetButtonNumber(18), 0);
}

TEST(ChipProfileTable, Kv1120EightAndNineSendTheFilesOfFiveAndSix) {
    const ChipProfile& p = ChipProfileTable()[FindChipProfile(1120)];
    EXPECT_STREQ(p.files[7], p.files[4]);
    EXPECT_STREQ(p.files[8], p.files[5]);
}

TEST(ChipProfileTable, OnlyTheKnownShownButtonsLackAFile) {
    std::set<std::string> missing;
    for (const ChipProfile& p : ChipProfileTable())
        for (int i = 0; i < kButtonC1; ++i) {
            if (p.captions[i] && !p.files[i]) missing.insert(std::string(p.chip) + " " + PresetButtonName(i));
            if (p.files[i]) {
                EXPECT_NE(p.captions[i], nullptr) << p.chip << " " << PresetButtonName(i);
            }
        }
    const std::set<std::string> expected{"KV2210S A5", "KV2210S A6",  "KV2210S A7", "KV2210S A8",
                                         "KV2210S A9", "KV2210S A10", "KV2210S B3"};
    EXPECT_EQ(missing, expected);
}

// The shipped presets: every file a button names exists, is a clean block of command lines that
// fits the preset buffer, and writes only registers the chip has.
TEST(ShippedPresets, EveryNamedFileExistsParsesCompletelyAndStaysInRange) {
    const std::filesystem::path root = EVB_PRESETS_DIR;
    int checked = 0;
    for (const ChipProfile& p : ChipProfileTable()) {
        for (int i = 0; i < kButtonC1; ++i) {
            if (!p.files[i]) continue;
            const std::filesystem::path file = root / p.folder / p.files[i];
            SCOPED_TRACE(file.string());
            ASSERT_TRUE(std::filesystem::is_regular_file(file));
            std::string text = readFile(file);
            ASSERT_NE(text.find("\r\n"), std::string::npos) << "made with Windows line ends";
            std::string folded;
            for (std::size_t k = 0; k < text.size(); ++k)
                if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) folded += text[k];
            ASSERT_LE(folded.size(), kPresetBufferSize);
            const auto records = ParseConfigLines(folded, kPresetLineLimit);
            const int n = CountCommandLines(records);
            const auto lines = std::count(folded.begin(), folded.end(), '\n');
            EXPECT_EQ(n, lines) << "every line is a command line";
            bool powersSomething = false;
            for (int k = 0; k < n; ++k) {
                const ConfigRecord& r = records[static_cast<std::size_t>(k)];
                EXPECT_NE(std::string("WwDdGgCc").find(r[1]), std::string::npos);
                if (r[1] == 'W') {
                    EXPECT_LE(HexPairToByte(r[2], r[3]), p.regCount) << std::string(r.data(), 7);
                    powersSomething = true;
                }
            }
            EXPECT_TRUE(powersSomething);
            ++checked;
        }
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(root / kEqualiserFile));
    EXPECT_EQ(checked, 9 + 2 + 6 + 9 + 9 + 12 + 5 + 7 + 8 + 11 + 12 + 11 + 10 + 8 + 18 + 18);
}
