#pragma once
// evbctl's file commands that need no port: "check FILE..." and "send --dry-run FILE".

#include "cli/EvbCtlResult.h"

#include <cstdint>
#include <string>
#include <vector>

namespace evb {
class RegisterMap;
}

namespace evbctl {

// Diagnostics and one summary line per file (JSON: "files" and "diagnostics"). Exit 0 (clean or
// warnings only), 4 (a file has errors), 2 (a file could not be read). With a map, writes to
// read-only registers and to reserved bits are warned about. strict: warnings count as errors.
int RunCheck(const std::vector<std::string>& files, std::uint32_t baud, bool strict, Result& result,
             const evb::RegisterMap* map = nullptr);

// The frames "send FILE" would write, one a line, 20 upper-case hex bytes (JSON: "frames");
// diagnostics on the error stream. Exit 0, 4 (errors: no frame printed) or 2 (unreadable).
int RunDryRun(const std::string& file, bool strict, Result& result);

} // namespace evbctl
