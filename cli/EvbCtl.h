#pragma once
// The headless client: one board command per run, over the serial layer and the protocol
// layer exactly as the console uses them.
//
//   evbctl [--port DEVICE] [--baud N] [--timeout MS] [--simulate] [--json] COMMAND [ARGS]
//   (options may also follow the command)
//
// Exit status: 0 success; 1 the board did not answer within the timeout or a frame could not
// be sent; 2 usage error (the problem and a pointer to --help on stderr); 3 the port could not be opened; 4 the file has
// errors and nothing was sent; 5 registers differ from the file (diff, restore); 130 a send
// stopped by Ctrl+C.

#include <iosfwd>
#include <string>
#include <vector>

namespace TalonComm {
class TLineIo;
}

namespace evbctl {

enum ExitCode {
    kExitOk = 0,
    kExitNoAnswer = 1,
    kExitUsage = 2,
    kExitPort = 3,
    kExitFileErrors = 4,
    kExitRegistersDiffer = 5,
    kExitInterrupted = 130
};

// Runs one invocation. Console lines go to out, warnings and errors to err. The run builds its
// own board session and makes it the calling thread's current one, so runs on different
// threads go on side by side. `line` makes the port's line (null: the system calls).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, TalonComm::TLineIo* line);
// in: where `evbctl session` reads its requests.
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        TalonComm::TLineIo* line);

std::string UsageText();

} // namespace evbctl
