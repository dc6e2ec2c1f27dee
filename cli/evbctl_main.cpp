// evbctl: scripts the evaluation board from a shell. See EvbCtl.h for commands and exit codes.

#include "cli/EvbCtl.h"

#include <iostream>
#include <malloc.h>

int main(int argc, char** argv) {
    // One heap for the whole run: each of the serial layer's threads would otherwise map a heap
    // of its own on its first allocation, which for the package thread falls on the first reply.
    mallopt(M_ARENA_MAX, 1);
    std::vector<std::string> args(argv + 1, argv + argc);
    return evbctl::Run(args, std::cout, std::cerr);
}
