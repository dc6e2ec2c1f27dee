#include "serial/TCommPackageQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace TalonComm {

TCommPackageQueue::TCommPackageQueue(std::uint32_t qSize, std::uint32_t pkgSz) {
    SetQueue(qSize, pkgSz);
}

void TCommPackageQueue::SetQueue(std::uint32_t qSize, std::uint32_t pkgSz) {
    m_storage.reset();
    m_qSize = std::max<std::uint32_t>(qSize, 2);
    m_pkgSz = std::max<std::uint32_t>(pkgSz, 32);
    Clear();
    m_storage.reset(new (std::nothrow) char[static_cast<size_t>(m_qSize) * m_pkgSz]);
}

void TCommPackageQueue::Clear() {
    m_out.store(0, std::memory_order_relaxed);
    m_in.store(0, std::memory_order_release);
}

void TCommPackageQueue::Discard() {
    std::uint32_t out = m_out.load(std::memory_order_acquire);
    while (
        !m_out.compare_exchange_weak(out, m_in.load(std::memory_order_acquire), std::memory_order_acq_rel)) {
    }
}

std::uint32_t TCommPackageQueue::Count() const {
    const std::uint32_t in = m_in.load(std::memory_order_acquire);
    const std::uint32_t out = m_out.load(std::memory_order_acquire);
    return (in + m_qSize - out) % m_qSize;
}

std::uint32_t TCommPackageQueue::Remain() const {
    const std::uint32_t in = m_in.load(std::memory_order_acquire);
    const std::uint32_t out = m_out.load(std::memory_order_acquire);
    return (out + m_qSize - in - 1) % m_qSize;
}

int TCommPackageQueue::In(const void* slot) {
    if (!m_storage || !slot || Remain() == 0) return 0;
    const std::uint32_t in = m_in.load(std::memory_order_relaxed);
    std::memcpy(slotAt(in), slot, m_pkgSz);
    m_in.store((in + 1) % m_qSize, std::memory_order_release);
    return 1;
}

int TCommPackageQueue::InPackage(const void* data, std::uint32_t len) {
    if (!m_storage || Remain() == 0) return 0;
    len = std::min(len, m_pkgSz - 4);
    const std::uint32_t in = m_in.load(std::memory_order_relaxed);
    char* slot = slotAt(in);
    std::memcpy(slot, &len, 4);
    if (len > 0) std::memcpy(slot + 4, data, len);
    m_in.store((in + 1) % m_qSize, std::memory_order_release);
    return 1;
}

bool TCommPackageQueue::commitOut(std::uint32_t out) {
    return m_out.compare_exchange_strong(out, (out + 1) % m_qSize, std::memory_order_acq_rel);
}

int TCommPackageQueue::Out(void* slot) {
    if (!m_storage || !slot || Count() == 0) return 0;
    const std::uint32_t out = m_out.load(std::memory_order_acquire);
    std::memcpy(slot, slotAt(out), m_pkgSz);
    return commitOut(out) ? 1 : 0;
}

int TCommPackageQueue::Read(void* slot, unsigned long i) const {
    if (!m_storage || !slot || i >= Count()) return 0;
    const std::uint32_t out = m_out.load(std::memory_order_acquire);
    std::memcpy(slot, slotAt(static_cast<std::uint32_t>((out + i) % m_qSize)), m_pkgSz);
    return 1;
}

long TCommPackageQueue::OutPackage(void* buf, unsigned long n) {
    if (!m_storage || Count() == 0) return -1;
    const std::uint32_t out = m_out.load(std::memory_order_acquire);
    const char* slot = slotAt(out);
    std::uint32_t len = 0;
    std::memcpy(&len, slot, 4);
    const unsigned long k = std::min<unsigned long>(n, len);
    if (k > 0) std::memcpy(buf, slot + 4, k);
    return commitOut(out) ? static_cast<long>(k) : -1;
}

long TCommPackageQueue::PeekLength() const {
    if (!m_storage || Count() == 0) return -1;
    std::uint32_t len = 0;
    std::memcpy(&len, slotAt(m_out.load(std::memory_order_acquire)), 4);
    return len;
}

} // namespace TalonComm
