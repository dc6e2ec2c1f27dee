#pragma once
// Byte ring between exactly one producer thread and one consumer thread. One slot always stays
// empty, so a ring of BufSize slots holds BufSize - 1 bytes.
//
// Threads: only the producer calls In, only the consumer calls Out. Clear and SetBufSize may
// only be called while neither side runs (the engine calls them while its port is closed).
// Discard may be called from any thread while both sides run: a consumer whose bytes were
// discarded while it copied them gets 0 from that Out.

#include <atomic>
#include <cstddef>
#include <memory>

namespace TalonComm {

class TCommQueue {
  public:
    explicit TCommQueue(long bufSize);
    virtual ~TCommQueue() = default;
    TCommQueue(const TCommQueue&) = delete;
    TCommQueue& operator=(const TCommQueue&) = delete;

    void Clear();
    // Throws ETalonCommError code 1 (and keeps the old ring) when the memory is not there.
    void SetBufSize(long n);
    long BufSize() const { return m_bufSize.load(std::memory_order_relaxed); }

    long In(const char* c);
    long In(const char* buf, long n);
    long Out(char* c);
    long Out(char* buf, long n);
    // Drops everything waiting; consumer side only.
    void Discard();

    long Count() const;
    long Remain() const;
    bool IsValid() const { return m_buf != nullptr; }

  private:
    std::atomic<long> m_bufSize{0};
    std::atomic<long> m_out{0};
    std::atomic<long> m_in{0};
    std::unique_ptr<char[]> m_buf;
};

} // namespace TalonComm
