#pragma once
// Assembly of packages separated by silence: bytes join the package being assembled; the
// package is complete once Interval has passed since its last byte. Time is passed in, so the
// rule can be driven by a test clock.

#include <chrono>
#include <cstdint>
#include <vector>

namespace TalonComm {

class TTimeoutAssembler {
  public:
    using Clock = std::chrono::steady_clock;

    TTimeoutAssembler(std::uint32_t maxLength, std::chrono::milliseconds interval);

    // Bytes that arrived at t; those beyond maxLength are dropped but still extend the package.
    void Feed(const std::uint8_t* data, std::size_t n, Clock::time_point t);
    // The last byte fed arrived at t after all (a better time than the one Feed was given).
    void Touch(Clock::time_point t) {
        if (m_pending) m_last = t;
    }
    bool Pending() const { return m_pending; }
    Clock::time_point Deadline() const { return m_last + m_interval; }
    // True (and the package moved into out) when a package is pending and due at t.
    bool TakeIfDue(Clock::time_point t, std::vector<std::uint8_t>& out);
    void Reset();
    void SetMaxLength(std::uint32_t maxLength);
    void SetInterval(std::chrono::milliseconds interval) { m_interval = interval; }

  private:
    std::uint32_t m_maxLength;
    std::chrono::milliseconds m_interval;
    std::vector<std::uint8_t> m_acc;
    bool m_pending = false;
    Clock::time_point m_last{};
};

} // namespace TalonComm
