#pragma once
// evbctl's file commands that need no port: "check FILE..." and "send --dry-run FILE", and the
// loading and checking of a configuration file that "send" shares with them.

#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace evbctl {

// A configuration file as the console's 4096-byte buffer would hold it, checked.
struct CheckedFile {
    evb::TextLoad load;
    evb::ConfigCheck check;
    std::string_view sendable() const { return check.sendable(load.text); }
};
CheckedFile LoadAndCheck(const std::string& path);

// Diagnostics and one summary line per file on out. Exit 0 (clean or warnings only), 4 (a file
// has errors), 2 (a file could not be read).
int RunCheck(const std::vector<std::string>& files, std::uint32_t baud, std::ostream& out, std::ostream& err);

// The frames "send FILE" would write, one a line, 20 upper-case hex bytes; diagnostics on err.
// Exit 0, 4 (errors: no frame printed) or 2 (unreadable).
int RunDryRun(const std::string& file, std::ostream& out, std::ostream& err);

} // namespace evbctl
