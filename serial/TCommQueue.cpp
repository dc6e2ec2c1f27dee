#include "serial/TCommQueue.h"

#include "serial/ETalonCommError.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace TalonComm {

TCommQueue::TCommQueue(long bufSize) {
    SetBufSize(bufSize);
}

void TCommQueue::Clear() {
    m_out.store(0, std::memory_order_relaxed);
    m_in.store(0, std::memory_order_release);
}

void TCommQueue::SetBufSize(long n) {
    Clear();
    if (n <= 0) {
        m_buf.reset();
        return;
    }
    std::unique_ptr<char[]> ring(new (std::nothrow) char[static_cast<size_t>(n)]);
    if (!ring) throw ETalonCommError(1);
    m_buf = std::move(ring);
    m_bufSize.store(n, std::memory_order_relaxed);
}

long TCommQueue::Count() const {
    const long size = m_bufSize.load(std::memory_order_relaxed);
    if (size <= 0) return 0;
    const long in = m_in.load(std::memory_order_acquire);
    const long out = m_out.load(std::memory_order_acquire);
    return (in - out + size) % size;
}

long TCommQueue::Remain() const {
    const long size = m_bufSize.load(std::memory_order_relaxed);
    if (size <= 0) return 0;
    const long in = m_in.load(std::memory_order_acquire);
    const long out = m_out.load(std::memory_order_acquire);
    return (out - in + size - 1) % size;
}

long TCommQueue::In(const char* c) {
    return In(c, 1);
}

long TCommQueue::In(const char* buf, long n) {
    if (!m_buf || !buf || n < 1) return 0;
    const long size = m_bufSize.load(std::memory_order_relaxed);
    const long in = m_in.load(std::memory_order_relaxed);
    const long out = m_out.load(std::memory_order_acquire);
    const long k = std::min(n, (out - in + size - 1) % size);
    if (k <= 0) return 0;
    const long first = std::min(k, size - in);
    std::memcpy(m_buf.get() + in, buf, static_cast<size_t>(first));
    if (k > first) std::memcpy(m_buf.get(), buf + first, static_cast<size_t>(k - first));
    m_in.store((in + k) % size, std::memory_order_release);
    return k;
}

long TCommQueue::Out(char* c) {
    return Out(c, 1);
}

long TCommQueue::Out(char* buf, long n) {
    if (!m_buf || !buf || n < 1) return 0;
    const long size = m_bufSize.load(std::memory_order_relaxed);
    const long out = m_out.load(std::memory_order_relaxed);
    const long in = m_in.load(std::memory_order_acquire);
    const long k = std::min(n, (in - out + size) % size);
    if (k <= 0) return 0;
    const long first = std::min(k, size - out);
    std::memcpy(buf, m_buf.get() + out, static_cast<size_t>(first));
    if (k > first) std::memcpy(buf + first, m_buf.get(), static_cast<size_t>(k - first));
    // A Discard from another thread while the bytes were copied invalidates the copy.
    long expected = out;
    if (!m_out.compare_exchange_strong(expected, (out + k) % size, std::memory_order_acq_rel)) return 0;
    return k;
}

void TCommQueue::Discard() {
    long out = m_out.load(std::memory_order_acquire);
    while (
        !m_out.compare_exchange_weak(out, m_in.load(std::memory_order_acquire), std::memory_order_acq_rel)) {
    }
}

} // namespace TalonComm
