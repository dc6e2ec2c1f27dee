// How close evbctl comes to the limits of a 19200-baud link, against the simulated board paced
// to that rate (10 bits per byte both ways). Every figure is a ratio to the link's own limit:
//   read: frame time (20 bytes) + reply time (1 byte); with --package-gap also the 50 ms
//         silence that closes a package
//   read-all: frame time + 256 reply bytes (+ 50 ms with --package-gap)
//   send: wire time of the 512 register writes plus begin and end (514 frames of 20 bytes)
// A whole evbctl invocation is timed (port open, command, answer, close), run in-process so
// process start-up is not counted. Given the evbctl program as second argument, the read is
// also timed as a process of its own, with the median of `evbctl --help` (the process start)
// subtracted, as a user's script sees it. For reference, a plain open/write/poll/close loop
// on the same pseudo-terminal: what any program gets from the simulated board and the kernel.
// Where ser2net is installed, the read and the send also through it on the loopback address
// (its RFC 2217 port), against the same limits, and the
// wake-ups of an open, idle network port.

#include "cli/EvbCtl.h"
#include "serial/TRkCommDevice.h"
#include "sim/SimBoard.h"
#include "tests/Ser2net.h"

#include <algorithm>
#include <dirent.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBaud = 19200.0;
constexpr double kByteTime = 10.0 / kBaud;

double timeRun(const std::vector<std::string>& args, int& code) {
    std::ostringstream out, err;
    const auto t0 = Clock::now();
    code = evbctl::Run(args, out, err);
    const auto t1 = Clock::now();
    if (code != 0) std::fprintf(stderr, "evbctl failed (%d): %s", code, err.str().c_str());
    return std::chrono::duration<double>(t1 - t0).count();
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char* what, std::vector<double> seconds, double limit, double target) {
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    const double worst = seconds.back();
    // A target of 0: the figure is reported, not judged.
    char goal[32] = "(reported)";
    if (target > 0) std::snprintf(goal, sizeof goal, "target %.2f", target);
    std::printf("%-28s limit %8.1f ms  median %8.1f ms (ratio %.2f)  worst %8.1f ms (ratio %.2f)  runs %zu  %s\n",
                what, limit * 1e3, median * 1e3, median / limit, worst * 1e3, worst / limit, seconds.size(), goal);
}

// A whole process, its output thrown away.
double timeProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = -1;
    int status = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) ::waitpid(pid, &status, 0);
    const auto t1 = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "%s failed\n", argv[0]);
    return std::chrono::duration<double>(t1 - t0).count();
}

// Open, the frame, the answer and 50 ms of silence, close: nothing but system calls.
double plainRoundTrip(const std::string& port) {
    static const unsigned char frame[20] = {0x3A, 0x01, 0x1A, 0x00, 0x01, 0, 0, 0, 0, 0,
                                            0,    0,    0,    0,    0,    0, 0, 0, 0, 0x40};
    const auto t0 = Clock::now();
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    ::tcsetattr(fd, TCSANOW, &tio);
    if (::write(fd, frame, sizeof frame) != sizeof frame) std::fprintf(stderr, "plain write failed\n");
    bool answered = false;
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, answered ? 50 : 1000) > 0;) {
        unsigned char buf[64];
        answered = ::read(fd, buf, sizeof buf) > 0 || answered;
    }
    ::close(fd);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Context switches of this process's evb-* threads so far.
long evbSwitches() {
    long total = 0;
    DIR* d = ::opendir("/proc/self/task");
    for (dirent* e; d && (e = ::readdir(d));) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(task + "/comm");
        std::string name;
        if (e->d_name[0] == '.' || !std::getline(comm, name) || name.rfind("evb-", 0) != 0) continue;
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos) total += std::atol(line.c_str() + line.find(':') + 1);
    }
    if (d) ::closedir(d);
    return total;
}

// Wake-ups per second of the engine's threads on an open network port with nothing to do.
double idleWakeups(const std::string& port) {
    TalonComm::TRkCommDevice dev;
    dev.fSetSyncEvents(false);
    dev.fSetPortName(port);
    dev.fSetBaudRate(static_cast<std::uint32_t>(kBaud));
    dev.fSetUsePackage(true);
    dev.fSetActive(true);
    // The answers to the opening requests come in; then the threads reach their waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = evbSwitches();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long after = evbSwitches();
    dev.fSetActive(false);
    return (after - before) / std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    evbsim::SimOptions options;
    options.baud = static_cast<std::uint32_t>(kBaud);
    evbsim::SimBoard board(options);
    if (!board.Start()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const std::string port = board.DevicePath();

    const auto file =
        std::filesystem::temp_directory_path() / ("bench-evbctl-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream f(file);
        for (int i = 0; i < 512; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, ":W%02X%02X@\n", i & 0xFF, (i >> 8) & 0xFF);
            f << line;
        }
    }

    std::vector<double> reads, gapReads, sends, plain, processReads, gapProcessReads, helps, dumps, gapDumps;
    int code = 0;
    for (int i = 0; i < runs * 4; ++i) {
        reads.push_back(timeRun({"--port", port, "read", "0x1A"}, code));
        if (code != 0) return 1;
        gapReads.push_back(timeRun({"--port", port, "--package-gap", "read", "0x1A"}, code));
        plain.push_back(plainRoundTrip(port));
    }
    for (int i = 0; i < runs; ++i) {
        dumps.push_back(timeRun({"--port", port, "dump", "256"}, code));
        gapDumps.push_back(timeRun({"--port", port, "--package-gap", "dump", "256"}, code));
        if (code != 0) return 1;
    }
    if (argc > 2) {
        for (int i = 0; i < runs * 3; ++i) {
            processReads.push_back(timeProcess({argv[2], "--port", port, "read", "0x1A"}));
            gapProcessReads.push_back(
                timeProcess({argv[2], "--port", port, "--package-gap", "read", "0x1A"}));
            helps.push_back(timeProcess({argv[2], "--help"}));
        }
        // The process start, as the median of --help, comes off every run.
        const double start = medianOf(helps);
        for (auto* v : {&processReads, &gapProcessReads})
            for (double& t : *v)
                t -= start;
    }
    for (int i = 0; i < runs; ++i) {
        sends.push_back(timeRun({"--port", port, "--timeout", "5000", "send", file.string()}, code));
        if (code != 0) return 1;
    }
    // Through ser2net: the same commands on the same board.
    std::vector<double> netReads, netInReads, netQuickReads, netSends;
    double wakeups = -1;
    Ser2net server;
    if (Ser2net::Installed() && server.Start(port)) {
        // As a process of its own, with the process start taken off as for the local read.
        const double start = helps.empty() ? 0 : medianOf(helps);
        for (int i = 0; i < runs * 4 && argc > 2; ++i)
            netReads.push_back(
                timeProcess({argv[2], "--port", server.Rfc2217(), "--package-gap", "read", "0x1A"}) - start);
        for (int i = 0; i < runs * 4; ++i) {
            netInReads.push_back(
                timeRun({"--port", server.Rfc2217(), "--package-gap", "read", "0x1A"}, code));
            netQuickReads.push_back(timeRun({"--port", server.Rfc2217(), "read", "0x1A"}, code));
        }
        for (int i = 0; i < runs; ++i)
            netSends.push_back(timeRun({"--port", server.Rfc2217(), "--timeout", "5000", "send", file.string()}, code));
        wakeups = idleWakeups(server.Rfc2217());
        server.Stop();
    } else {
        std::fprintf(stderr, "ser2net is not installed: no figures through the network\n");
    }
    std::filesystem::remove(file);

    std::printf("evbctl against the simulated board paced at %.0f baud\n", kBaud);
    const double wireRead = 21 * kByteTime, readLimit = wireRead + 0.050;
    const double wireDump = (20 + 256) * kByteTime;
    report("read round trip", reads, wireRead, 0);
    report("read, --package-gap", gapReads, readLimit, 1.05);
    if (!processReads.empty()) {
        report("read, process", processReads, wireRead, 0);
        report("read, process, --package-gap", gapProcessReads, readLimit, 1.05);
        std::printf("(process start: evbctl --help, median %.1f ms)\n", medianOf(helps) * 1e3);
    }
    report("plain loop read", plain, readLimit, 0);
    report("read-all of 256", dumps, wireDump, 1.10);
    report("read-all, --package-gap", gapDumps, wireDump + 0.050, 0);
    report("512-line send", sends, 514 * 20 * kByteTime, 1.10);
    if (!netSends.empty()) {
        if (!netReads.empty()) report("read, process, rfc2217://, gap", netReads, readLimit, 1.10);
        report("read, rfc2217://, gap, in-process", netInReads, readLimit, 0);
        report("read, rfc2217://, in-process", netQuickReads, wireRead, 0);
        report("512-line send, rfc2217://", netSends, 514 * 20 * kByteTime, 1.02);
        std::printf("ROW\tserial wake-ups/s, idle rfc2217:// port\t-\t%.2f\t%.2f\t%.2f\t%.2f\t<=\t0\n", wakeups, wakeups,
                    wakeups, wakeups);
    }
    return 0;
}
