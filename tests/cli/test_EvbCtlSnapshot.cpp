// evbctl save, diff and restore against a simulated board on a real pseudo-terminal.
#include "cli/EvbCtl.h"
#include "sim/SimBoard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

class EvbCtlSnapshot : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(board.Start()); }
    void TearDown() override { std::filesystem::remove(file); }
    int ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", board.DevicePath()});
        std::ostringstream o, e;
        const int code = evbctl::Run(args, o, e);
        out = o.str();
        err = e.str();
        return code;
    }
    static evbsim::SimOptions unpaced() {
        evbsim::SimOptions o;
        o.pace = false;
        return o;
    }
    evbsim::SimBoard board{unpaced()};
    std::string file = (std::filesystem::temp_directory_path() / ("regs-" + std::to_string(::getpid()) + ".txt")).string();
    std::string out, err;
};

} // namespace

TEST_F(EvbCtlSnapshot, SaveDiffRestoreWritesOnlyWhatDiffersAndReadOnlyRegistersAreReported) {
    ASSERT_EQ(ctl({"save", file}), evbctl::kExitOk) << err;
    EXPECT_EQ(out, "256 registers saved to " + file + "\n");
    ASSERT_EQ(ctl({"diff", file}), evbctl::kExitOk) << err;

    const std::uint8_t was1A = board.Register(0x20, 0x1A), was40 = board.Register(0x20, 0x40);
    board.SetRegister(0x20, 0x1A, was1A ^ 0xFF);
    board.SetRegister(0x20, 0x40, was40 ^ 0x0F);
    ASSERT_EQ(ctl({"diff", file}), evbctl::kExitRegistersDiffer) << err;
    std::ostringstream expected;
    expected << "Reg0x1A: board 0x" << std::uppercase << std::hex << int(was1A ^ 0xFF) << ", file 0x" << int(was1A)
             << "\n";
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), expected.str());
    EXPECT_NE(out.find("2 of 256 registers differ from " + file), std::string::npos) << out;

    board.ClearFrames();
    ASSERT_EQ(ctl({"restore", file}), evbctl::kExitOk) << out << err;
    // read-all, batch begin, the two writes, batch end, read-all
    const auto frames = board.Frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[1].record[0], 0x04);
    EXPECT_EQ(std::vector<int>({frames[2].record[2], frames[2].record[3], frames[3].record[2], frames[3].record[3]}),
              std::vector<int>({0x1A, was1A, 0x40, was40}));
    EXPECT_EQ(frames[4].record[0], 0x06);
    ASSERT_EQ(ctl({"diff", file}), evbctl::kExitOk) << out;

    board.SetRegister(0x20, 0x1A, 0x00);
    board.SetReadOnly(0x20, 0x1A, true);
    EXPECT_EQ(ctl({"restore", file, "32"}), evbctl::kExitRegistersDiffer);
    EXPECT_NE(out.find("after restore: 1 of 32 registers differs from " + file), std::string::npos) << out;
}

TEST_F(EvbCtlSnapshot, AFileWithErrorsIsNeitherComparedNorRestored) {
    std::ofstream(file) << ":W1A0@\n";
    EXPECT_EQ(ctl({"restore", file}), evbctl::kExitFileErrors);
    EXPECT_NE(err.find(file + ":1: error:"), std::string::npos) << err;
    EXPECT_EQ(board.FrameCount(), 0u);
}
