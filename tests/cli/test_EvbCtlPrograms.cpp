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

struct Output {
    int status = -1; // exit code, or -1 when it did not exit normally
    std::string out;
};

// Runs a command line of the test's own making (no outside text in it) and takes its stdout.
Output Shell(const std::string& command) {
    Output o;
    FILE* p = ::popen(command.c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        o.out.append(buf, n);
    const int st = p ? ::pclose(p) : -1;
    o.status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

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
    const Output w = Shell(std::string(EVBCTL_PATH) + " --port " + device + " write 0x1A 0x5");
    const Output r = Shell(std::string(EVBCTL_PATH) + " --port " + link.string() + " read '$1A'");
    if (pid > 0) ::kill(pid, SIGTERM);
    const int st = ::pclose(sim);
    ASSERT_TRUE(printed);
    EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.out, "WriteReg:   Reg0x1A = 0x05\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ReadReg:   Reg0x1A = 0x05\n");
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "evbsim ends cleanly on SIGTERM";
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "and removes its link";
}

} // namespace
