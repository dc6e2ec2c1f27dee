#include "TempDir.h"
#include "console/PresetFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace evb;

namespace {

class PresetLookup : public ::testing::Test {
  protected:
    void TearDown() override { SetPresetSearchRoots({}); }
    TempDir first, second;
};

} // namespace

TEST_F(PresetLookup, FirstRootThatHasTheFileWins) {
    first.write("KV2330/KV2330_Lin1.TXT", ":W0101@\r\n");
    second.write("KV2330/KV2330_Lin1.TXT", ":W0202@\r\n");
    SetPresetSearchRoots({first.path().string(), second.path().string()});
    const PresetLocation where = FindPresetFile("KV2330", "KV2330_Lin1.TXT");
    EXPECT_TRUE(where.found);
    EXPECT_EQ(where.path, (first.path() / "KV2330" / "KV2330_Lin1.TXT").string());
}

TEST_F(PresetLookup, FallsBackToTheDataFolder) {
    second.write("KV29xx/KV2930_Lout.TXT", ":W0101@\r\n");
    SetPresetSearchRoots({first.path().string(), second.path().string()});
    const PresetLocation where = FindPresetFile("KV29xx", "KV2930_Lout.TXT");
    EXPECT_TRUE(where.found);
    EXPECT_EQ(where.path, (second.path() / "KV29xx" / "KV2930_Lout.TXT").string());
}

TEST_F(PresetLookup, FilesDirectlyInTheRootNeedNoFolder) {
    second.write("CorvaneEQ.TXT", ":W3000@\r\n");
    SetPresetSearchRoots({first.path().string(), second.path().string()});
    EXPECT_EQ(FindPresetFile("", "CorvaneEQ.TXT").path, (second.path() / "CorvaneEQ.TXT").string());
}

TEST_F(PresetLookup, NamesAreCaseSensitiveAndDirectoriesDoNotCount) {
    first.write("KV1160/KV1160_Lin_27dB_3V3_LP.TXT", ":W0101@\r\n");
    std::filesystem::create_directories(first.path() / "KV1160" / "KV1160_PowerDown.TXT");
    SetPresetSearchRoots({first.path().string()});
    EXPECT_TRUE(FindPresetFile("KV1160", "KV1160_Lin_27dB_3V3_LP.TXT").found);
    EXPECT_FALSE(FindPresetFile("KV1160", "KV1160_Lin_27DB_3V3_LP.TXT").found);
    EXPECT_FALSE(FindPresetFile("KV1160", "KV1160_PowerDown.TXT").found);
}

TEST_F(PresetLookup, MissingFileReportsWhereItWasExpectedFirst) {
    SetPresetSearchRoots({first.path().string(), second.path().string()});
    const PresetLocation where = FindPresetFile("Corvane", "Corvane_A1.TXT");
    EXPECT_FALSE(where.found);
    EXPECT_EQ(where.path, (first.path() / "Corvane" / "Corvane_A1.TXT").string());
}

TEST_F(PresetLookup, DefaultRootsStartAtTheProgramFolder) {
    const std::vector<std::string> roots = PresetSearchRoots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0], ProgramFolder());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(ProgramFolder()) / "console_tests"));
    EXPECT_NE(roots[1].find("share/evbconsole"), std::string::npos);
}
