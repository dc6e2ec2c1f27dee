#pragma once
// Assembly of packages separated by silence: bytes join the package being assembled; the
// package is complete once Interval has passed since its last byte, or at once when it holds
// maxLength bytes (the next byte begins another). An answer whose length is known ends sooner:
// once its bytes are all in, after a shorter quiet (Expect). Time is passed in, so the rule can
// be driven by a test clock.

#include <chrono>
#include <deque>
#include <cstdint>
#include <vector>

namespace TalonComm {

class TTimeoutAssembler {
  public:
    using Clock = std::chrono::steady_clock;

    TTimeoutAssembler(std::uint32_t maxLength, std::chrono::milliseconds interval);

    // Bytes that arrived at t; a package that fills up is complete and waits in TakeIfDue.
    void Feed(const std::uint8_t* data, std::size_t n, Clock::time_point t);
    // The last byte fed arrived at t after all (a better time than the one Feed was given).
    void Touch(Clock::time_point t) {
        if (m_pending) m_last = t;
    }
    bool Pending() const { return m_pending; }
    Clock::time_point Deadline() const {
        return m_last + (m_expect > 0 && m_count >= m_expect ? std::chrono::nanoseconds(m_quiet)
                                                             : std::chrono::nanoseconds(m_interval));
    }
    // The next n bytes are an answer: the package that brings them all is complete after quiet
    // instead of the interval (bytes beyond n that come before the quiet join it). A package
    // completed before that by the interval counts towards the n. Cleared once met, by Reset
    // and by Expect(0, ...).
    void Expect(std::size_t n, std::chrono::microseconds quiet) {
        m_expect = n;
        m_quiet = quiet;
    }
    std::size_t Expected() const { return m_expect; }
    // Takes a full package, else what is pending now, due or not (false when nothing is).
    bool TakeNow(std::vector<std::uint8_t>& out);
    // True (and the package moved into out) when a full package waits, or a package is pending
    // and due at t.
    bool TakeIfDue(Clock::time_point t, std::vector<std::uint8_t>& out);
    void Reset();
    void SetMaxLength(std::uint32_t maxLength);
    void SetInterval(std::chrono::milliseconds interval) { m_interval = interval; }

  private:
    std::uint32_t m_maxLength;
    std::chrono::milliseconds m_interval;
    std::vector<std::uint8_t> m_acc;
    std::size_t m_count = 0;  // bytes fed into the pending package, in it
    std::size_t m_expect = 0; // bytes still expected of an answer; 0: none
    std::chrono::microseconds m_quiet{0};
    std::deque<std::vector<std::uint8_t>> m_full; // complete by their length, oldest first
    bool m_pending = false;
    Clock::time_point m_last{};
};

} // namespace TalonComm
