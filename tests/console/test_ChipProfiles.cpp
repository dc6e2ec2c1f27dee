#include "console/ChipProfiles.h"
#include "protocol/Command.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
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

// The shipped presets: every file a button names is clean to the checker, holds no board step,
// and leaves the registers as its caption promises on the generator's register model
// (expectations.txt, written by make_presets.py); within one chip, different files hold
// different settings.
TEST(ShippedPresets, EveryFileIsCleanAndHoldsWhatItsCaptionPromises) {
    const std::filesystem::path root = EVB_PRESETS_DIR;
    struct Promise {
        std::string button, caption;
        std::map<std::uint8_t, std::uint8_t> registers;
    };
    std::map<std::string, Promise> promises; // by folder/file
    std::istringstream table(readFile(root / "expectations.txt"));
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');)
            f.push_back(field);
        ASSERT_EQ(f.size(), 4u) << line;
        Promise& p = promises[f[0]];
        p.button = f[1];
        p.caption = f[2];
        std::istringstream pairs(f[3]);
        for (std::string kv; pairs >> kv;)
            p.registers[static_cast<std::uint8_t>(std::stoi(kv.substr(0, 2), nullptr, 16))] =
                static_cast<std::uint8_t>(std::stoi(kv.substr(3, 2), nullptr, 16));
    }
    const auto check = [](const std::filesystem::path& file, int highest) {
        const TextLoad load = LoadTextFile(file.string(), kPresetBufferSize);
        EXPECT_TRUE(load.ok && load.droppedBytes == 0) << load.error;
        return CheckConfigText(
            load.text,
            {.lineLimit = kPresetLineLimit, .bufferSize = kPresetBufferSize, .highestAddress = highest});
    };
    std::map<std::string, std::map<std::string, std::map<std::uint8_t, ConfigWrite>>>
        settings; // folder, file
    std::size_t checked = 0;
    for (const ChipProfile& p : ChipProfileTable()) {
        for (int i = 0; i < kButtonC1; ++i) {
            if (!p.files[i]) continue;
            const std::string key = std::string(p.folder) + "/" + p.files[i];
            if (settings[p.folder].count(p.files[i])) continue; // the table's own reuse of a file
            SCOPED_TRACE(key);
            const auto promise = promises.find(key);
            ASSERT_NE(promise, promises.end()) << "the generator writes no such file";
            // The maker's profile shows "Button-A1" and so on; its files follow the KV2930's captions.
            if (std::string(p.captions[i]).rfind("Button-", 0) != 0) {
                EXPECT_EQ(promise->second.caption, p.captions[i]);
                EXPECT_EQ(promise->second.button, PresetButtonName(i));
            }
            const ConfigCheck c = check(root / key, p.regCount);
            EXPECT_EQ(c.format(key), "");
            EXPECT_EQ(c.gSteps, 0) << "no board step has a documented meaning";
            const auto last = c.lastWrites();
            for (const auto& [reg, value] : promise->second.registers) {
                const auto w = last.find(reg);
                if (w == last.end()) {
                    ADD_FAILURE() << "register 0x" << Hex2(reg) << " is not written";
                    continue;
                }
                EXPECT_EQ(Hex2(w->second.value), Hex2(value)) << "register 0x" << Hex2(reg);
            }
            for (const auto& [other, state] : settings[p.folder]) {
                const auto same = [](const auto& x, const auto& y) {
                    return x.first == y.first && x.second.value == y.second.value;
                };
                EXPECT_FALSE(std::equal(state.begin(), state.end(), last.begin(), last.end(), same))
                    << "holds the same settings as " << other;
            }
            settings[p.folder][p.files[i]] = last;
            ++checked;
        }
    }
    EXPECT_EQ(checked, promises.size());
    EXPECT_EQ(check(root / kEqualiserFile, 0xFF).format(kEqualiserFile), "");
}
