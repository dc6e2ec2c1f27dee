#pragma once
// Head/tail framing of packages: a head marker, the bytes with every marker byte preceded by
// the control byte, a tail marker. Decoding is a byte-at-a-time state machine that survives
// any garbage between frames.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace TalonComm {

struct TFrameMarks {
    std::uint8_t Head = 0xEB;
    std::uint8_t Tail = 0xEE;
    std::uint8_t Ctrl = 0xEC;
    bool DoubleMark = false;
};

class TFrameCodec {
  public:
    // Encodes data[0..len) into out (which is resized); returns the encoded length.
    static std::size_t Encode(const std::uint8_t* data, std::size_t len, const TFrameMarks& marks,
                              std::vector<std::uint8_t>& out);

    explicit TFrameCodec(std::uint32_t maxLength) : m_maxLength(maxLength) { m_acc.reserve(maxLength); }

    // Feeds received bytes; calls onPackage for every complete frame (bytes beyond maxLength
    // of a frame are dropped, the frame goes on).
    void Decode(const std::uint8_t* data, std::size_t n, const TFrameMarks& marks,
                const std::function<void(const std::uint8_t*, std::uint32_t)>& onPackage);
    void Reset();
    void SetMaxLength(std::uint32_t maxLength);
    bool InFrame() const { return m_inFrame; }

  private:
    std::uint32_t m_maxLength;
    bool m_inFrame = false;
    bool m_escape = false;
    std::vector<std::uint8_t> m_acc;
};

} // namespace TalonComm
