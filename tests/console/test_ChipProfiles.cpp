#include "console/ChipProfiles.h"
#include "protocol/Command.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"
#include "protocol/TextConv.h"

#include <gtest/gtest.h>

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
    bool fullSetup;
    const char* shown; // the shown preset buttons; nullptr: the profile keeps the previous layout
};

// clang-format off
const RowCase kRows[] = {
    {1120, 0, "KV1120 Evaluation", 0x4C, true, "A1 A2 A3 A4 A5 A6 A7 A8 A9 B1 B2 C1 C2 C3"},
    {1150, 1, "KV1150 Evaluation", 0x0F, true, "A1 A2 A3 A4 B1 B2"},
    {1160, 2, "KV1160 Evaluation", 0x0F, true, "A1 A2 A3 A4 A5 A6 A7 B1 B2"},
    {1167, 3, "KV1160L Evaluation", 0x0F, true, nullptr},
    {1162, 4, "KV1160E Evaluation", 0xFF, true, "A1 A2 A3 A4 A5 A6 A7 A8 B1 B2 B3 B4"},
    {2210, 5, "KV2210 Evaluation", 0x4F, true, "A1 A2 A3 A4 B1"},
    {2215, 6, "KV2210S Evaluation", 0xFF, true, "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 C1 C2 C3"},
    {2220, 7, "KV2220 Evaluation", 0xFF, false, nullptr},
    {2330, 8, "KV2330 Evaluation", 0x3F, true, "A1 A2 A3 A4 A6 B1 B2 B3"},
    {2440, 9, "KV2440 Evaluation", 0xFF, true, "A1 A2 A3 A4 A6 A7 A8 A9 B1 B2 B4 C1 C2 C3"},
    {2450, 10, "KV2450 Evaluation", 0xFF, true, "A1 A2 A3 A4 A6 A7 A8 A9 A10 B1 B2 B4 C1 C2 C3"},
    {2460, 11, "KV2460 Evaluation", 0x53, true, "A1 A2 A3 A4 A5 A7 B1 B2 B3 B4 B5"},
    {2570, 12, "KV2570 && KV2570S Evaluation", 0x3D, false, nullptr},
    {2580, 13, "KV2580 Evaluation", 0x3D, false, nullptr},
    {2590, 14, "KV2590 Evaluation", 0x3D, false, nullptr},
    {2640, 15, "KV2640 Evaluation", 0x7F, true, "A1 A2 A3 A4 A5 A6 A7 B1 B2 B3 C1 C2 C3"},
    {2650, 16, "KV2650 Evaluation", 0x3D, true, "A1 A2 A3 A4 A5 A6 B1 B2"},
    {2910, 17, "KV2910 Evaluation", 0x7F, false, nullptr},
    {2920, 18, "KV2920 Evaluation", 0x7F, false, nullptr},
    {2930, 19, "KV2930 Evaluation", 0x7F, true, "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 B5 B6 B7 B8"},
    {8888, 20, "Corvane Evaluation", 0xFF, true, "A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 B1 B2 B3 B4 B5 B6 B7 B8 C1 C2 C3"},
};
// clang-format on

const ChipProfile& profile(std::int32_t code) {
    return ChipProfileTable()[FindChipProfile(code)];
}

} // namespace

TEST(ChipProfileTable, EveryCodeFindsItsRowCaptionsRegisterCountAndButtons) {
    for (const RowCase& c : kRows) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(FindChipProfile(c.code), c.row);
        const ChipProfile& p = ChipProfileTable()[c.row];
        EXPECT_STREQ(p.windowCaption, c.windowCaption);
        EXPECT_EQ(p.regCount, c.regCount);
        EXPECT_EQ(GridDataRows(p.regCount), (c.regCount + 15) / 16);
        EXPECT_EQ(p.fullSetup, c.fullSetup);
        std::string group = p.windowCaption;
        EXPECT_STREQ(p.groupCaption, group.replace(group.find(" Evaluation"), 11, " Register Map").c_str());
        std::string shown;
        for (int i = 0; i < kPresetButtonCount; ++i)
            if (p.captions[i]) shown += (shown.empty() ? "" : " ") + PresetButtonName(i);
        if (c.shown) { EXPECT_EQ(shown, c.shown); }
    }
    for (std::int32_t code : {0, 1, 2214, 2216, 9999, -1120})
        EXPECT_EQ(FindChipProfile(code), kNoProfile) << code;
    EXPECT_STREQ(profile(1162).captions[4], "Input 0DB:  AVDD=1V8");
    EXPECT_STREQ(profile(1162).captions[5], "Input 0DB:  AVDD=1V8 LP Mode");
    // KV1120's A8 and A9 send the files of A5 and A6.
    EXPECT_STREQ(profile(1120).files[7], profile(1120).files[4]);
    EXPECT_STREQ(profile(1120).files[8], profile(1120).files[5]);
}

// Every file a button names (each promised file by one at least) is clean to the checker, holds no board step, and leaves the
// registers as its caption promises on the generator's register model (expectations.txt, lines
// "folder/file|button|caption|RR=VV ..."); within one chip, different files hold different settings.
TEST(ShippedPresets, EveryFileIsCleanAndHoldsWhatItsCaptionPromises) {
    const std::filesystem::path root = EVB_PRESETS_DIR;
    std::map<std::string, std::pair<std::string, std::string>> promises; // file: button|caption, pairs
    std::ifstream table(root / "expectations.txt");
    for (std::string line; std::getline(table, line);)
        if (const auto bar = line.rfind('|'); !line.empty() && line[0] != '#')
            promises[line.substr(0, line.find('|'))] = {line.substr(line.find('|') + 1, bar - line.find('|') - 1),
                                                        line.substr(bar + 1)};
    const auto check = [](const std::filesystem::path& file, int highest) {
        const TextLoad load = LoadTextFile(file.string(), kPresetBufferSize);
        EXPECT_TRUE(load.ok && load.droppedBytes == 0) << file;
        return CheckConfigText(load.text, {.lineLimit = kPresetLineLimit, .bufferSize = kPresetBufferSize, .highestAddress = highest});
    };
    std::set<std::string> checked;
    std::map<std::string, std::string> settings; // "folder RR=VV ...": the file holding them
    for (const ChipProfile& p : ChipProfileTable())
        for (int i = 0; i < kButtonC1; ++i) {
            const std::string key = std::string(p.folder ? p.folder : "") + "/" + (p.files[i] ? p.files[i] : "");
            if (!p.files[i] || !checked.insert(key).second) continue; // no file, or one checked already
            SCOPED_TRACE(key);
            ASSERT_EQ(promises.count(key), 1u) << "the generator writes no such file";
            // The maker's profile shows "Button-A1" and so on; its files follow the KV2930's captions.
            if (std::string(p.captions[i]).rfind("Button-", 0) != 0) {
                EXPECT_EQ(promises[key].first, PresetButtonName(i) + "|" + p.captions[i]);
            }
            const ConfigCheck c = check(root / key, p.regCount);
            EXPECT_EQ(c.format(key) + std::to_string(c.gSteps), "0") << "clean, and no board step";
            std::string state = " ";
            for (const auto& [reg, write] : c.lastWrites())
                state += Hex2(reg) + "=" + Hex2(write.value) + " ";
            std::istringstream pairs(promises[key].second);
            for (std::string kv; pairs >> kv;)
                EXPECT_NE(state.find(" " + kv + " "), std::string::npos) << kv << " in" << state;
            EXPECT_TRUE(settings.emplace(p.folder + state, key).second) << "the same as " << settings[p.folder + state];
        }
    EXPECT_EQ(checked.size(), promises.size()) << "promised files that no button sends";
    EXPECT_EQ(check(root / kEqualiserFile, 0xFF).format(kEqualiserFile), "");
}
