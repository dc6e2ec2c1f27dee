// The installed programs as a user runs them from a shell: evbsim in the background, evbctl
// against the device path it prints or the link it publishes.

#include <gtest/gtest.h>

#include <cstdio>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(EvbCtlPrograms, EvbctlScriptsTheBoardThatEvbsimRuns) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("evbsim-cli-" + std::to_string(::getpid()));
    // The shell tells its own pid, then becomes evbsim, which prints its device path and stays quiet.
    FILE* sim = ::popen(("echo $$; exec " + std::string(EVBSIM_PATH) + " --link " + link.string()).c_str(), "r");
    ASSERT_NE(sim, nullptr);
    int pid = 0;
    char line[256] = {};
    const bool printed = std::fscanf(sim, "%d\n", &pid) == 1 && std::fgets(line, sizeof line, sim) != nullptr;
    const std::string device = std::string(line).substr(0, std::string(line).find('\n'));
    // Both runs in one shell line: the second runs only when the first succeeded.
    const std::string ctl = std::string(EVBCTL_PATH) + " --port ";
    const std::string both = ctl + device + " write 0x1A 0x5 && " + ctl + link.string() + " read '$1A'";
    FILE* shell = ::popen(both.c_str(), "r");
    std::string said;
    for (std::size_t n; shell && (n = std::fread(line, 1, sizeof line, shell)) > 0;)
        said.append(line, n);
    const int ctlStatus = shell ? ::pclose(shell) : -1;
    if (pid > 0) ::kill(pid, SIGTERM);
    const int st = ::pclose(sim);
    ASSERT_TRUE(printed);
    EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    EXPECT_TRUE(WIFEXITED(ctlStatus) && WEXITSTATUS(ctlStatus) == 0);
    EXPECT_EQ(said, "WriteReg:   Reg0x1A = 0x05\nReadReg:   Reg0x1A = 0x05\n");
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "evbsim ends cleanly on SIGTERM";
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "and removes its link";
}

} // namespace
