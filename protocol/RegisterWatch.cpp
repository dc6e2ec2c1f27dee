#include "protocol/RegisterWatch.h"

#include "protocol/BoardCommand.h"

#include <algorithm>

namespace evb {

namespace {

constexpr int kPackageGapMs = 50; // silence that closes a package
constexpr int kBitsPerByte = 10;  // start, 8 data bits, stop

} // namespace

std::vector<WatchBlock> PlanWatchReads(std::vector<std::uint8_t> regs, int baud) {
    std::sort(regs.begin(), regs.end());
    regs.erase(std::unique(regs.begin(), regs.end()), regs.end());
    // A read of its own costs a frame and a package gap; each register skipped costs a byte.
    const int ownRead = static_cast<int>(kFrameSize) + kPackageGapMs * baud / kBitsPerByte / 1000;
    std::vector<WatchBlock> blocks;
    for (const std::uint8_t r : regs) {
        if (!blocks.empty() && r - (blocks.back().start + blocks.back().count) < ownRead) {
            blocks.back().count = r - blocks.back().start + 1;
            continue;
        }
        blocks.push_back({r, 1});
    }
    return blocks;
}

int ShortestWatchIntervalMs(const std::vector<WatchBlock>& blocks, int baud) {
    int ms = 0;
    for (const WatchBlock& b : blocks)
        ms += ((static_cast<int>(kFrameSize) + b.count) * kBitsPerByte * 1000 + baud - 1) / baud + kPackageGapMs;
    // Room for the user's own commands between polls.
    return std::max(100, ms * 2);
}

} // namespace evb
