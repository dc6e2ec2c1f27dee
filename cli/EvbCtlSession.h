#pragma once
// `evbctl session`: commands from standard input, one a line, to one board or several held open
// across commands, each board's commands on a thread of its own.

#include "cli/EvbCtlResult.h"

#include <csignal>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace TalonComm {
class TLineIo;
}

namespace evbctl {

// How the session was started: the options every command starts from (--timeout, --regmap, ...),
// and the board meant when a command names none (--port or --simulate; neither: none).
struct SessionSetup {
    std::vector<std::string> options;
    std::string port;
    bool simulate = false;
    bool json = false;
};

// A board held open across commands. Made, used and destroyed on one thread: its board session
// is that thread's current one. port "": a simulated board.
class HeldBoard {
  public:
    HeldBoard(const SessionSetup& setup, const std::string& port, std::ostream& err,
              TalonComm::TLineIo* line);
    ~HeldBoard();
    int open(Result& result);
    // One command's words, as on the command line; returns its exit status.
    int run(const std::vector<std::string>& words, Result& result);
    // "record start": every register write to the board from now on is kept; "record stop FILE"
    // saves them as configuration files (FILE, or FILE-1, FILE-2, ... when one buffer cannot
    // hold them).
    int record(const std::vector<std::string>& words, Result& result);
    // The port went away (a hang-up, a lost connection).
    bool gone() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// The commands that need no board: check, regmap, ports, send --dry-run.
bool NeedsNoBoard(const std::vector<std::string>& words);
int RunBoardless(const std::vector<std::string>& words, const SessionSetup& setup, Result& result);

// Ctrl+C while it lives stops every send after its current line (each batch is closed) and
// ends the reading of requests.
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    bool fired() const;

  private:
    struct ::sigaction m_previous {};
};

// Reads requests from in until its end (or Ctrl+C), answers on out; returns the worst exit
// status seen (130 after Ctrl+C).
int RunSession(const SessionSetup& setup, std::istream& in, std::ostream& out, std::ostream& err,
               TalonComm::TLineIo* line);

} // namespace evbctl
