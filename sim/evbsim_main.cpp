// evbsim: the simulated evaluation board as a program of its own. Prints the device path of its
// pseudo-terminal on stdout (one line, nothing else, so scripts can read it) and runs until
// SIGINT or SIGTERM.

#include "sim/SimBoard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

namespace {

void usage(std::FILE* to) {
    std::fputs("usage: evbsim [--link PATH] [--baud N] [--no-pace]\n"
               "  Runs a simulated evaluation board on a pseudo-terminal and prints its device path.\n"
               "  --link PATH  also publish the device as the symbolic link PATH\n"
               "  --baud N     pace the traffic to N baud, 10 bits per byte (default 19200)\n"
               "  --no-pace    move bytes as fast as the pseudo-terminal allows\n"
               "  Stop it with Ctrl+C (SIGINT) or SIGTERM.\n",
               to);
}

bool parseBaud(const char* text, std::uint32_t& baud) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 4000000) return false;
    baud = static_cast<std::uint32_t>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    evbsim::SimOptions options;
    std::string link;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--no-pace") {
            options.pace = false;
        } else if (arg == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else if (arg == "--baud" && i + 1 < argc) {
            if (!parseBaud(argv[++i], options.baud)) {
                std::fprintf(stderr, "evbsim: bad baud rate '%s'\n", argv[i]);
                usage(stderr);
                return 2;
            }
        } else {
            std::fprintf(stderr, "evbsim: unknown argument '%s'\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    // The signals are taken by sigwait below; the board's thread inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    evbsim::SimBoard board(options);
    if (!board.Start()) {
        std::fprintf(stderr, "evbsim: no pseudo-terminal could be opened: %s\n", std::strerror(errno));
        return 1;
    }
    if (!link.empty() && !board.Link(link)) {
        if (errno == EEXIST)
            std::fprintf(stderr, "evbsim: cannot create the link %s: it exists and is not a symbolic link\n",
                         link.c_str());
        else
            std::fprintf(stderr, "evbsim: cannot create the link %s: %s\n", link.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", board.DevicePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "evbsim: simulated board on %s%s%s, %s; Ctrl+C stops it\n",
                 board.DevicePath().c_str(), link.empty() ? "" : " (also ",
                 link.empty() ? "" : (link + ")").c_str(),
                 options.pace ? ("paced to " + std::to_string(options.baud) + " baud").c_str() : "not paced");

    int sig = 0;
    sigwait(&stopSignals, &sig);
    board.Stop();
    return 0;
}
