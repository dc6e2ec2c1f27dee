#include "console/ChipProfiles.h"
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

// What the table holds is the product; these are the rules it keeps. What each button sends is
// ShippedPresets'.
TEST(ChipProfileTable, EachCodeFindsItsOwnRowTheGroupCaptionFollowsAndEveryButtonWithAFileIsShown) {
    for (int row = 0; row < kProfileCount; ++row) {
        const ChipProfile& p = ChipProfileTable()[row];
        SCOPED_TRACE(p.code);
        EXPECT_EQ(FindChipProfile(p.code), row);
        std::string group = p.windowCaption;
        EXPECT_STREQ(p.groupCaption, group.replace(group.find(" Evaluation"), 11, " Register Map").c_str());
        for (int i = 0; i < kButtonC1; ++i)
            EXPECT_TRUE(!p.files[i] || p.captions[i]) << PresetButtonName(i);
    }
    for (std::int32_t code : {0, 1, 2214, 2216, 9999, -1120})
        EXPECT_EQ(FindChipProfile(code), kNoProfile) << code;
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
