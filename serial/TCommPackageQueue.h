#pragma once
// Ring of equal package slots (a 32-bit length word, then up to PkgSz - 4 bytes) between one
// producer thread and one consumer thread. Capacity QSize - 1 slots.
//
// Threads: In / InPackage on the producer, Out / OutPackage / Read / Discard on the consumer
// (Discard and Out may race safely: a discarded slot is not handed out). SetQueue and Clear
// only while no other thread uses the queue.

#include <atomic>
#include <cstdint>
#include <memory>

namespace TalonComm {

class TCommPackageQueue {
  public:
    TCommPackageQueue(std::uint32_t qSize, std::uint32_t pkgSz);
    virtual ~TCommPackageQueue() = default;
    TCommPackageQueue(const TCommPackageQueue&) = delete;
    TCommPackageQueue& operator=(const TCommPackageQueue&) = delete;

    void SetQueue(std::uint32_t qSize, std::uint32_t pkgSz);
    void SetQSize(std::uint32_t q) { SetQueue(q, m_pkgSz); }
    void SetPkgSz(std::uint32_t s) { SetQueue(m_qSize, s); }
    void Clear();
    void Discard();

    // Whole slots of PkgSz bytes.
    int In(const void* slot);
    int Out(void* slot);
    int Read(void* slot, unsigned long i) const;

    // A slot built from a package of len bytes (cut to the slot). 1 when stored.
    int InPackage(const void* data, std::uint32_t len);
    // Removes the oldest package and copies at most n of its bytes; returns the count copied,
    // or -1 when no package waits.
    long OutPackage(void* buf, unsigned long n);
    // Length of the oldest package, -1 when none waits.
    long PeekLength() const;

    std::uint32_t Count() const;
    std::uint32_t Remain() const;
    bool IsValid() const { return m_storage != nullptr; }
    std::uint32_t QSize() const { return m_qSize; }
    std::uint32_t PkgSz() const { return m_pkgSz; }

  private:
    char* slotAt(std::uint32_t i) const { return m_storage.get() + static_cast<size_t>(i) * m_pkgSz; }
    bool commitOut(std::uint32_t out);

    std::unique_ptr<char[]> m_storage;
    std::atomic<std::uint32_t> m_out{0};
    std::atomic<std::uint32_t> m_in{0};
    std::uint32_t m_qSize = 2;
    std::uint32_t m_pkgSz = 32;
};

} // namespace TalonComm
