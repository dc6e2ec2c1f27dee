#include "serial/TTimeoutAssembler.h"

#include <algorithm>

namespace TalonComm {

TTimeoutAssembler::TTimeoutAssembler(std::uint32_t maxLength, std::chrono::milliseconds interval)
    : m_maxLength(maxLength), m_interval(interval) {
    m_acc.reserve(maxLength);
}

void TTimeoutAssembler::Feed(const std::uint8_t* data, std::size_t n, Clock::time_point t) {
    if (n == 0) return;
    const std::size_t limit = std::max<std::uint32_t>(m_maxLength, 1);
    while (n > 0) {
        const std::size_t take = std::min(n, limit - m_acc.size());
        m_acc.insert(m_acc.end(), data, data + take);
        data += take;
        n -= take;
        m_count += take;
        if (m_acc.size() < limit) break;
        // A full package is complete at once; its bytes count towards an expected answer.
        m_expect = m_count >= m_expect ? 0 : m_expect - m_count;
        m_count = 0;
        m_full.emplace_back(std::move(m_acc));
        m_acc.clear();
        m_acc.reserve(limit);
    }
    m_pending = !m_acc.empty();
    m_last = t;
}

bool TTimeoutAssembler::TakeIfDue(Clock::time_point t, std::vector<std::uint8_t>& out) {
    if (m_full.empty() && (!m_pending || t < Deadline())) return false;
    return TakeNow(out);
}

bool TTimeoutAssembler::TakeNow(std::vector<std::uint8_t>& out) {
    if (!m_full.empty()) {
        out.swap(m_full.front());
        m_full.pop_front();
        return true;
    }
    if (!m_pending) return false;
    m_expect = m_count >= m_expect ? 0 : m_expect - m_count;
    m_count = 0;
    out.swap(m_acc);
    m_acc.clear();
    m_acc.reserve(m_maxLength);
    m_pending = false;
    return true;
}

void TTimeoutAssembler::Reset() {
    m_acc.clear();
    m_count = 0;
    m_expect = 0;
    m_full.clear();
    m_pending = false;
}

void TTimeoutAssembler::SetMaxLength(std::uint32_t maxLength) {
    m_maxLength = maxLength;
    Reset();
    m_acc.reserve(maxLength);
}

} // namespace TalonComm
