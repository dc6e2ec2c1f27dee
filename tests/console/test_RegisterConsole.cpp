// Everything of the register console that needs no window: the codec table and the
// shipped preset files, where presets and documents are found, and the buffer behind "Load
// Configuration File". Reading a file (line-end folding, a missing file or a directory, the
// 4096-byte fit) is LoadTextFile's, tested with the protocol layer.
#include "console/ChipProfiles.h"
#include "console/ConfigBuffer.h"
#include "console/PresetFiles.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"
#include "protocol/TextConv.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>

using namespace evb;

// What the table holds is the product; these are the rules it keeps. What each button sends is
// ShippedPresets'. Each menu entry with a handler sets as highest register address the register
// count of the row its code selects: its own row, but the KV2210S row for KV2220; the entries of
// rows 12 to 14 have none, so no entry selects rows 7, 12, 13 and 14.
TEST(CodecTable, EveryEntrySelectsARowOfItsRegisterCountAndTheProfilesKeepTheirRules) {
    for (int row = 0; row < kProfileCount; ++row) {
        const ChipProfile& p = ChipProfileTable()[row];
        SCOPED_TRACE(p.code);
        EXPECT_EQ(FindChipProfile(p.code), row);
        EXPECT_EQ(FindCodecMenuEntry(p.menu.name), row);
        std::string group = p.windowCaption;
        EXPECT_STREQ(p.groupCaption, group.replace(group.find(" Evaluation"), 11, " Register Map").c_str());
        for (int i = 0; i < kButtonC1; ++i)
            EXPECT_TRUE(!p.files[i] || p.captions[i]) << PresetButtonName(i);
        EXPECT_EQ(p.menu.code == 0, row >= 12 && row <= 14);
        if (p.menu.code == 0) continue;
        const int selected = FindChipProfile(p.menu.code);
        ASSERT_EQ(selected, row == 7 ? 6 : row);
        EXPECT_EQ(p.menu.highest, ChipProfileTable()[selected].regCount);
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

// The shipped files found from the program folder are proved by the register console's preset tests.
// The documents of the "Instructions" menu: the working folder's copy first, as the shell would
// open the bare name, then the copy shipped beside the presets, else the working folder's path.
TEST(PresetLookup, FirstRootWithTheFileWinsAMissingOneNamesTheFirstAndDocumentsTryTheWorkingFolderFirst) {
    TempDir first, second;
    first.write("KV2330/KV2330_Lin1.TXT", ":W0101@\r\n");
    second.write("KV2330/KV2330_Lin1.TXT", ":W0202@\r\n");
    second.write("KV29xx/KV2930_Lout.TXT", ":W0101@\r\n");
    second.write("CorvaneEQ.TXT", ":W3000@\r\n");
    std::filesystem::create_directories(first.path / "KV1160/KV1160_PowerDown.TXT");
    evb::SetPresetSearchRoots({first.path.string(), second.path.string()});
    for (const auto& [name, root] : {std::pair{"KV2330/KV2330_Lin1.TXT", &first}, {"KV29xx/KV2930_Lout.TXT", &second},
                                     {"/CorvaneEQ.TXT", &second}, {"KV1160/KV1160_PowerDown.TXT", nullptr}}) {
        const std::string n = name, slash = n.substr(0, n.find('/')), file = n.substr(n.find('/') + 1);
        const evb::PresetLocation where = evb::FindPresetFile(slash, file);
        EXPECT_EQ(where.found, root != nullptr) << name;
        EXPECT_EQ(where.path, ((root ? *root : first).path / (slash.empty() ? file : n)).string());
    }

    // Documents: the working folder is first, the one root is second.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(first.path);
    evb::SetPresetSearchRoots({second.path.string()});
    const std::string inWorkingFolder = (first.path / evb::kManualFile).string();
    EXPECT_EQ(evb::FindDocument(evb::kManualFile), inWorkingFolder) << "found nowhere";
    second.write(evb::kManualFile, "%PDF-1.4\n");
    const std::string shipped = (second.path / evb::kManualFile).string();
    EXPECT_EQ(evb::FindDocument(evb::kManualFile), shipped) << "shipped only";
    first.write(evb::kManualFile, "%PDF-1.4\n");
    EXPECT_EQ(evb::FindDocument(evb::kManualFile), inWorkingFolder) << "in both";
    std::filesystem::current_path(before);
    evb::SetPresetSearchRoots({});
}

// One buffer loaded again and again: the console lines that say what of a file was not loaded
// ("FILE" stands for its path), why the text ends where it does, and that a failed load leaves
// the buffer alone. A short file over a long one keeps the long one's tail: the register
// console's file tests.
TEST(ConfigBufferLoad, ProblemLinesNameTheFileAndWhatWasLostAndTheEndSaysWhyTheTextStops) {
    TempDir dir;
    const std::string fifo = (dir.path / "pipe.txt").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ConfigBuffer buffer(16);
    ConfigBuffer::LoadResult result;
    const auto problemAfterLoading = [&](const std::string& path) {
        result = buffer.load(path);
        std::string line = ConfigBuffer::problemLine(path, result, buffer.capacity());
        for (std::size_t at; (at = line.find(path)) != std::string::npos;)
            line.replace(at, path.size(), "FILE");
        return line;
    };
    EXPECT_EQ(problemAfterLoading(dir.write("long.txt", ":W0101@\r\n:W0202@\r\n:W0303@\r\n")),
              "File too long: FILE: only the first 16 bytes loaded, 8 bytes not loaded\r\n");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::BufferFull);
    EXPECT_EQ(problemAfterLoading(dir.write("nul.txt", std::string(":W01@\r\n\0z", 9))),
              "File holds a NUL byte in line 2: FILE: the text from there on is not used\r\n");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Nul);
    EXPECT_EQ(buffer.loaded(result).end, ConfigTextEnd::Nul);
    const std::pair<std::string, std::string> refused[] = {
        {dir.path.string(), "File not loaded: FILE (FILE: Is a directory)\r\n"},
        // A pipe without a writer must not block the open, a device node must not be read for ever.
        {fifo, "File not loaded: FILE (FILE: not a regular file)\r\n"},
        {"/dev/zero", "File not loaded: FILE (FILE: not a regular file)\r\n"},
    };
    for (const auto& [path, expected] : refused)
        EXPECT_EQ(problemAfterLoading(path), expected) << path;
    EXPECT_EQ(buffer.text(), ":W01@\n") << "a failed load leaves the buffer alone";
    buffer.clear();
    EXPECT_EQ(buffer.text(), "");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Complete);
}
