// evbconsole as a process, offscreen:
//   - start-up of "evbconsole --simulate" until it reports ready (its end banner is in the
//     console and its event loop runs), against bench_minimal_window (one window showing one
//     line of text; and, for information, an empty window), alternating in one run; first
//     paints are not counted on either side;
//   - wake-ups per second of the evb-* threads and of the whole process, idle with the port
//     open, over a 5 s window (voluntary and involuntary context switches from /proc).
// Both programs are looked up next to this one, or in the directories given.
// Usage: bench_process [startRuns] [idleRuns] [evbconsole] [bench_minimal_window]

#include "bench/perf/BenchStats.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace evbbench;
using Clock = std::chrono::steady_clock;

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
};

std::string selfDir() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

Child spawn(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child c;
    if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    c.out = pipeFds[0];
    return c;
}

// Reads the child's output until a line "ready"; the time it was seen, or nothing.
std::optional<Clock::time_point> waitReady(const Child& c, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    char buf[4096];
    while (Clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{c.out, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
        const ssize_t n = ::read(c.out, buf, sizeof buf);
        if (n <= 0) return std::nullopt;
        const auto at = Clock::now();
        text.append(buf, static_cast<std::size_t>(n));
        if (text.find("ready\n") != std::string::npos) return at;
    }
    return std::nullopt;
}

void finish(Child& c) {
    if (c.pid > 0) {
        ::kill(c.pid, SIGTERM);
        int status = 0;
        ::waitpid(c.pid, &status, 0);
    }
    if (c.out >= 0) ::close(c.out);
    c = {};
}

struct Switches {
    long evb = 0;
    long all = 0;
    int evbThreads = 0;
};

Switches switchesOf(pid_t pid) {
    Switches s;
    const std::string root = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(root.c_str());
    if (!d) return s;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string base = root + "/" + e->d_name;
        std::string name;
        std::getline(std::ifstream(base + "/comm"), name);
        std::ifstream status(base + "/status");
        long n = 0;
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                n += std::atol(line.c_str() + line.find(':') + 1);
        s.all += n;
        if (name.rfind("evb-", 0) == 0) {
            s.evb += n;
            ++s.evbThreads;
        }
    }
    ::closedir(d);
    return s;
}

std::vector<std::string> consoleArgs(const std::string& program) {
    return {program, "--simulate", "--report-ready"};
}

} // namespace

int main(int argc, char* argv[]) {
    const int startRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const int idleRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string dir = selfDir();
    const std::string console = argc > 3 ? argv[3] : dir + "/evbconsole";
    const std::string minimal = argc > 4 ? argv[4] : dir + "/bench_minimal_window";
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // Start-up, the programs alternating so that all see the same machine load.
    const std::vector<std::vector<std::string>> programs = {
        consoleArgs(console), {minimal}, {minimal, "--empty"}};
    std::vector<std::vector<double>> starts(programs.size());
    for (int i = 0; i < startRuns + 1; ++i) {
        for (std::size_t which = 0; which < programs.size(); ++which) {
            const auto t0 = Clock::now();
            Child c = spawn(programs[which]);
            const auto ready = waitReady(c, std::chrono::milliseconds(20000));
            finish(c);
            if (!ready) {
                std::fprintf(stderr, "bench_process: %s did not report ready\n", programs[which][0].c_str());
                return 1;
            }
            // The first round only warms the file cache.
            if (i > 0) starts[which].push_back(std::chrono::duration<double>(*ready - t0).count());
        }
    }
    const Summary cs = Summarise(starts[0]);
    for (std::size_t ref = 1; ref < programs.size(); ++ref) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < starts[0].size(); ++i)
            ratios.push_back(starts[0][i] / starts[ref][i]);
        const Summary rs = Summarise(ratios);
        const Summary ms = Summarise(starts[ref]);
        PrintRow(ref == 1 ? "start-up of evbconsole --simulate" : "start-up, vs an empty window",
                 Format("%s %.0f ms", ref == 1 ? "Qt hello-world window" : "empty Qt window", ms.median * 1e3),
                 rs.median, rs.worst, Format("%.2fx (%.0f ms)", rs.median, cs.median * 1e3),
                 Format("%.2fx (%.0f ms)", rs.worst, cs.worst * 1e3), ref == 1 ? "<=" : "-", 1.5);
    }

    // Idle with the port open.
    std::vector<double> evbRates, allRates;
    int evbThreads = 0;
    for (int i = 0; i < idleRuns; ++i) {
        Child c = spawn(consoleArgs(console));
        if (!waitReady(c, std::chrono::milliseconds(20000))) {
            finish(c);
            std::fprintf(stderr, "bench_process: evbconsole did not report ready\n");
            return 1;
        }
        // Settled: the start-up traffic is over once the evb-* threads stay put for 300 ms.
        Switches s = switchesOf(c.pid);
        auto stableSince = Clock::now();
        const auto settleDeadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() - stableSince < std::chrono::milliseconds(300) && Clock::now() < settleDeadline) {
            ::poll(nullptr, 0, 20);
            const Switches now = switchesOf(c.pid);
            if (now.evb != s.evb) stableSince = Clock::now();
            s = now;
        }
        const auto t0 = Clock::now();
        const Switches before = switchesOf(c.pid);
        ::poll(nullptr, 0, 5000); // the measuring window itself
        const Switches after = switchesOf(c.pid);
        const double span = std::chrono::duration<double>(Clock::now() - t0).count();
        finish(c);
        evbThreads = after.evbThreads;
        evbRates.push_back((after.evb - before.evb) / span);
        allRates.push_back((after.all - before.all) / span);
    }
    const Summary es = Summarise(evbRates);
    const Summary as = Summarise(allRates);
    PrintRow(Format("idle wake-ups/s, %d evb-* threads", evbThreads), "", es.median, es.worst,
             Format("%.2f /s", es.median), Format("%.2f /s", es.worst), "<=", 0);
    PrintRow("idle wake-ups/s, whole evbconsole", "", as.median, as.worst, Format("%.2f /s", as.median),
             Format("%.2f /s", as.worst), "-", 0);
    return 0;
}
