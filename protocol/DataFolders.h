#pragma once
// Where the program's shipped files are: beside the executable (a build tree carries its presets
// and register maps next to the executables), then in the installed data directory. Shared by
// the windows' preset lookup and evbctl's register-map lookup.

#include <string>

namespace evb {

// The directory of the running executable (from /proc/self/exe), without a trailing slash.
std::string ProgramFolder();

// <prefix>/share/evbconsole: the one next to the program's <prefix>/bin when there is one, else
// the configured installation's.
std::string InstalledDataFolder();

} // namespace evb
