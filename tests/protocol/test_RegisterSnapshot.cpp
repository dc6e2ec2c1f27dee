// Register snapshots: the saved file, the comparison with a file and the restore text.
#include "protocol/RegisterSnapshot.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(RegisterSnapshot, AllRegistersSaveAsACleanFileThatFitsTheBufferAndReadsBackAndAFailedSaveSaysWhy) {
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
    ASSERT_TRUE(f.load.ok);
    EXPECT_EQ(f.load.droppedBytes, 0u);
    EXPECT_EQ(f.check.format(path), "");
    EXPECT_EQ(f.check.commandLines(), 256);
    EXPECT_EQ(evb::ExpectedRegisters(f.check), evb::ExpectedRegisters(values));

    // A failed save says why and leaves no partial file.
    const std::string nowhere = (dir.path / "no-such-dir" / "regs.txt").string();
    EXPECT_NE(evb::SaveTextFile(nowhere, text).find(nowhere + ": No such file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(nowhere + ".part"));
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
