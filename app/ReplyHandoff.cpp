#include "app/ReplyHandoff.h"

namespace evb {

namespace {
ReplyHandoffCounters gCounters;
ReplyObserver gObserver; // UI thread only
} // namespace

ReplyHandoffCounters& ReplyHandoff() {
    return gCounters;
}

void SetReplyObserver(ReplyObserver observer) {
    gObserver = std::move(observer);
}

const ReplyObserver& CurrentReplyObserver() {
    return gObserver;
}

} // namespace evb
