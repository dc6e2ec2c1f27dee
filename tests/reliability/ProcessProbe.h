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
// Memory the process holds for its data: resident memory, or, in a sanitizer build (whose
// quarantine and shadow keep freed memory resident), the bytes its allocator has handed out and
// not got back.
std::size_t MemoryInUse();
// What MemoryInUse measures, for messages.
const char* MemoryMeasure();

} // namespace reliability

namespace reliability {
// True when every thread whose name begins with prefix is blocked (state S or D), i.e. none is
// running or spinning at the moment of the look.
bool ThreadsAsleep(const std::string& prefix);
} // namespace reliability
