#include "tests/TempDir.h"
#include "console/PresetFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

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
