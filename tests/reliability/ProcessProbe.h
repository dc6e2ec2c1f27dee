#pragma once
// What the running test process holds, read from /proc/self: descriptors and threads by name.
// The reliability tests look at these after a fault.

#include <string>

namespace reliability {

// True when one of this process's descriptors refers to the file at path (symlinks resolved).
bool DescriptorOpenOn(const std::string& path);
// How many threads carry a name beginning with prefix (e.g. "evb-read").
int ThreadsNamed(const std::string& prefix);
// True when every thread whose name begins with prefix is blocked (state S or D), i.e. none is
// running or spinning at the moment of the look.
bool ThreadsAsleep(const std::string& prefix);

} // namespace reliability
