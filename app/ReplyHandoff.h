#pragma once
// Observation points of the reply hand-over between the serial layer's package thread and the
// UI thread. The program itself only counts; tests watch the counts and install an observer.

#include <atomic>
#include <cstdint>
#include <functional>

namespace evb {

struct ReplyHandoffCounters {
    // Package-completed events handed to the UI thread; counted on the serial layer's timer thread.
    std::atomic<int> queued{0};
    // Package events decoded on the UI thread (events that found no waiting package excluded).
    std::atomic<int> handled{0};
    // Package-completed events that reached the UI thread, whether or not they found a package.
    std::atomic<int> finished{0};
};

ReplyHandoffCounters& ReplyHandoff();

// Called on the thread that decoded a package, with the reply kind it was decoded by. Install
// and remove it on the UI thread only.
using ReplyObserver = std::function<void(std::uint8_t kind)>;
void SetReplyObserver(ReplyObserver observer);
const ReplyObserver& CurrentReplyObserver();

} // namespace evb
