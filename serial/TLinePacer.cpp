#include "serial/TLinePacer.h"

#include <algorithm>

namespace TalonComm {

namespace {
std::atomic<bool> gEnabled{false};
}

void TLinePacer::SetEnabled(bool on) {
    gEnabled.store(on, std::memory_order_relaxed);
}
bool TLinePacer::Enabled() {
    return gEnabled.load(std::memory_order_relaxed);
}

void TLinePacer::Reset(std::uint32_t baud) {
    m_baud = std::max<std::uint32_t>(baud, 50);
    m_wireFree = Clock::time_point{};
}

std::chrono::nanoseconds TLinePacer::byteTime() const {
    return std::chrono::nanoseconds(10'000'000'000LL / m_baud);
}

int TLinePacer::Backlog(Clock::time_point now) const {
    if (m_wireFree <= now) return 0;
    const auto left = m_wireFree - now;
    const auto bt = byteTime();
    return static_cast<int>((left + bt - Clock::duration(1)) / bt);
}

long TLinePacer::Room(Clock::time_point now) const {
    return std::max<long>(0, kFifoBytes - Backlog(now));
}

void TLinePacer::Wrote(long n, Clock::time_point now) {
    m_wireFree = std::max(m_wireFree, now) + byteTime() * n;
}

TLinePacer::Clock::duration TLinePacer::UntilRoom(Clock::time_point now) const {
    // Room appears when the backlog falls to kFifoBytes - 1.
    const auto freeAt = m_wireFree - byteTime() * (kFifoBytes - 1);
    return freeAt > now ? freeAt - now : Clock::duration::zero();
}

} // namespace TalonComm
