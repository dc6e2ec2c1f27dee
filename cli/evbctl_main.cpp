// evbctl: scripts the evaluation board from a shell. See EvbCtl.h for commands and exit codes.

#include "cli/EvbCtl.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return evbctl::Run(args, std::cout, std::cerr);
}
