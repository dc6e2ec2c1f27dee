#pragma once
// What a register watch reads on each poll: its registers grouped into block reads, and the
// shortest interval the link allows for them.

#include <cstdint>
#include <vector>

namespace evb {

struct WatchBlock {
    std::uint8_t start = 0;
    int count = 0;
    bool operator==(const WatchBlock&) const = default;
};

// The reads that cover regs (any order, repeats allowed), in address order: neighbours share
// one block read when the registers between them take less time on the line than a read of
// their own (its frame and the package gap that ends its answer).
std::vector<WatchBlock> PlanWatchReads(std::vector<std::uint8_t> regs, int baud = 19200);

// The shortest poll interval, in ms, in which these reads and their answers fit on the line.
int ShortestWatchIntervalMs(const std::vector<WatchBlock>& blocks, int baud = 19200);

} // namespace evb
