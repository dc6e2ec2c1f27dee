// How close evbctl comes to the limits of a 19200-baud link, against the simulated board paced
// to that rate (10 bits per byte both ways). Every figure is a ratio to the link's own limit:
//   read: frame time (20 bytes) + reply time (1 byte) + the 50 ms silence that closes a package
//   send: wire time of the 512 register writes plus begin and end (514 frames of 20 bytes)
// A whole evbctl invocation is timed (port open, command, answer, close), run in-process so
// process start-up is not counted.

#include "cli/EvbCtl.h"
#include "sim/SimBoard.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

void report(const char* what, std::vector<double> seconds, double limit) {
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    const double worst = seconds.back();
    std::printf("%-28s limit %8.1f ms  median %8.1f ms (ratio %.2f)  worst %8.1f ms (ratio %.2f)  runs %zu\n",
                what, limit * 1e3, median * 1e3, median / limit, worst * 1e3, worst / limit, seconds.size());
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

    std::vector<double> reads, sends;
    int code = 0;
    for (int i = 0; i < runs * 4; ++i) {
        reads.push_back(timeRun({"--port", port, "read", "0x1A"}, code));
        if (code != 0) return 1;
    }
    for (int i = 0; i < runs; ++i) {
        sends.push_back(timeRun({"--port", port, "--timeout", "5000", "send", file.string()}, code));
        if (code != 0) return 1;
    }
    std::filesystem::remove(file);

    std::printf("evbctl against the simulated board paced at %.0f baud\n", kBaud);
    report("read round trip", reads, 21 * kByteTime + 0.050);
    report("512-line send", sends, 514 * 20 * kByteTime);
    return 0;
}
