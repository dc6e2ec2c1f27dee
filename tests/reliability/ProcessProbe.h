#pragma once
// What the running test process holds, read from /proc/self: descriptors, threads by name and
// memory. The reliability tests compare these before and after a fault or a long run.

#include <cstddef>
#include <string>

namespace reliability {

int OpenDescriptorCount();
// True when one of this process's descriptors refers to the file at path (symlinks resolved).
bool DescriptorOpenOn(const std::string& path);
int ThreadCount();
// How many threads carry a name beginning with prefix (e.g. "evb-read").
int ThreadsNamed(const std::string& prefix);
// True when every thread whose name begins with prefix is blocked (state S or D), i.e. none is
// running or spinning at the moment of the look.
bool ThreadsAsleep(const std::string& prefix);
// Memory the process holds for its data: resident memory, or, in a sanitizer build (whose
// quarantine and shadow keep freed memory resident), the bytes its allocator has handed out and
// not got back.
std::size_t MemoryInUse();

} // namespace reliability
