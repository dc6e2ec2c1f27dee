#include "tests/TempDir.h"
#include "console/PresetFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

// The shipped files found from the program folder are proved by the register console's preset tests.
TEST(PresetLookup, FirstRootHoldingTheFileWinsAndAMissingFileNamesTheFirstPlace) {
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
    evb::SetPresetSearchRoots({});
}

// The documents of the "Instructions" menu: the working folder's copy first, as the shell would
// open the bare name, then the copy shipped beside the presets.
TEST(DocumentLookup, WorkingFolderThenShippedCopyThenWorkingFolderPath) {
    struct Case {
        bool inWorkingFolder, shipped;
        const char* expected; // "cwd" or "shipped"
    };
    const Case cases[] = {{true, true, "cwd"}, {false, true, "shipped"}, {false, false, "cwd"}};
    const std::filesystem::path before = std::filesystem::current_path();
    for (const Case& c : cases) {
        TempDir cwd, root;
        std::filesystem::current_path(cwd.path);
        evb::SetPresetSearchRoots({root.path.string()});
        if (c.inWorkingFolder) cwd.write(evb::kManualFile, "%PDF-1.4\n");
        if (c.shipped) root.write(evb::kManualFile, "%PDF-1.4\n");
        const std::filesystem::path expected =
            (std::string(c.expected) == "cwd" ? cwd.path : root.path) / evb::kManualFile;
        EXPECT_EQ(evb::FindDocument(evb::kManualFile), expected.string())
            << "in working folder " << c.inWorkingFolder << ", shipped " << c.shipped;
        std::filesystem::current_path(before);
    }
    evb::SetPresetSearchRoots({});
}
