#pragma once
// What the running test process holds, read from /proc/self: descriptors, threads by name and
// resident memory. The reliability tests compare these before and after a fault or a long run.

#include <cstddef>
#include <string>
#include <vector>

namespace reliability {

int OpenDescriptorCount();
// True when one of this process's descriptors refers to the file at path (symlinks resolved).
bool DescriptorOpenOn(const std::string& path);
// The names (comm) of this process's threads.
std::vector<std::string> ThreadNames();
int ThreadCount();
// How many threads carry a name beginning with prefix (e.g. "evb-read").
int ThreadsNamed(const std::string& prefix);
std::size_t ResidentBytes();

} // namespace reliability

namespace reliability {
// True when every thread whose name begins with prefix is blocked (state S or D), i.e. none is
// running or spinning at the moment of the look.
bool ThreadsAsleep(const std::string& prefix);
} // namespace reliability
