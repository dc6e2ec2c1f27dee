#pragma once
// Saving a text the user asked for: snapshots, the link log, the console pane, evbctl save.
// One function, so every save treats the target the same way.

#include <string>
#include <string_view>

namespace evb {

// Writes text to path, whole or not at all.
// - A regular file is replaced through a temporary file beside it and a rename; it keeps its
//   permission bits (and its owner where the process may set it).
// - A symbolic link is followed: the file it points to is written and the link stays.
// - A new file is created with the usual permissions (0666 less the umask).
// - Anything else (a device, a FIFO, a directory, a socket) is refused and left untouched.
// Returns why it failed ("PATH: is a FIFO, not a regular file; nothing was saved"), empty on
// success.
std::string SaveTextFile(const std::string& path, std::string_view text);

} // namespace evb
