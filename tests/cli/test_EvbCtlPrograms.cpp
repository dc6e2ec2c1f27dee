// The installed programs as a user runs them from a shell: evbsim in the background, evbctl
// against the device path it prints or the link it publishes.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Output {
    int status = -1; // exit code, or -1 when it did not exit normally in time
    std::string out;
    std::string err;
};

// Reads from fd until end of file or the deadline.
bool ReadAll(int fd, std::string& into, Clock::time_point deadline, bool stopAtNewline = false) {
    char buf[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        into.append(buf, static_cast<std::size_t>(n));
        if (stopAtNewline && into.find('\n') != std::string::npos) return true;
    }
}

class Child {
  public:
    explicit Child(const std::vector<std::string>& argv) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &fa, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
        if (m_err >= 0) ::close(m_err);
    }
    std::string FirstLine(std::chrono::milliseconds timeout) {
        std::string s;
        ReadAll(m_out, s, Clock::now() + timeout, true);
        return s.substr(0, s.find('\n'));
    }
    Output Finish(std::chrono::milliseconds timeout) {
        Output o;
        const auto deadline = Clock::now() + timeout;
        ReadAll(m_out, o.out, deadline);
        ReadAll(m_err, o.err, deadline);
        int st = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &st, 0) == m_pid) {
            m_pid = -1;
            if (WIFEXITED(st)) o.status = WEXITSTATUS(st);
        }
        return o;
    }
    void Signal(int sig) { ::kill(m_pid, sig); }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

Output RunProgram(const std::vector<std::string>& argv) {
    return Child(argv).Finish(30s);
}

TEST(EvbCtlPrograms, EvbctlScriptsTheBoardThatEvbsimRuns) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("evbsim-cli-" + std::to_string(::getpid()));
    Child sim({EVBSIM_PATH, "--link", link.string()});
    const std::string device = sim.FirstLine(10s);
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    ASSERT_TRUE(fs::is_symlink(link));

    const Output w = RunProgram({EVBCTL_PATH, "--port", device, "write", "0x1A", "0x5"});
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(w.out, "WriteReg:   Reg0x1A = 0x05\n");
    const Output r = RunProgram({EVBCTL_PATH, "--port", link.string(), "read", "$1A"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ReadReg:   Reg0x1A = 0x05\n");

    sim.Signal(SIGTERM);
    const Output end = sim.Finish(10s);
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(EvbCtlPrograms, ExitStatusTellsUsageErrorsAndUnopenablePortsApart) {
    const Output usage = RunProgram({EVBCTL_PATH, "frobnicate"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("usage: evbctl"), std::string::npos);
    const Output port = RunProgram({EVBCTL_PATH, "--port", "/dev/evb-no-such-port", "info"});
    EXPECT_EQ(port.status, 3);
    EXPECT_FALSE(port.err.empty());
    const Output help = RunProgram({EVBCTL_PATH, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: evbctl"), std::string::npos);
}

TEST(EvbCtlPrograms, SimulateNeedsNoHardwareAndNoOtherProgram) {
    const Output info = RunProgram({EVBCTL_PATH, "--simulate", "info"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, ".....EVBINFO:0001--0203040506--070809--0A0B0C--0D0E0F--1011.....\n");
}

} // namespace
