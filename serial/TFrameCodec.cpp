#include "serial/TFrameCodec.h"

namespace TalonComm {

std::size_t TFrameCodec::Encode(const std::uint8_t* data, std::size_t len, const TFrameMarks& marks,
                                std::vector<std::uint8_t>& out) {
    out.clear();
    out.push_back(marks.Head);
    if (marks.DoubleMark) out.push_back(marks.Head);
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint8_t c = data[i];
        if (c == marks.Head || c == marks.Tail || c == marks.Ctrl) out.push_back(marks.Ctrl);
        out.push_back(c);
    }
    out.push_back(marks.Tail);
    if (marks.DoubleMark) out.push_back(marks.Tail);
    return out.size();
}

void TFrameCodec::Reset() {
    m_inFrame = false;
    m_escape = false;
    m_acc.clear();
}

void TFrameCodec::SetMaxLength(std::uint32_t maxLength) {
    m_maxLength = maxLength;
    Reset();
    m_acc.reserve(maxLength);
}

void TFrameCodec::Decode(const std::uint8_t* data, std::size_t n, const TFrameMarks& marks,
                         const std::function<void(const std::uint8_t*, std::uint32_t)>& onPackage) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = data[i];
        if (!m_escape && c == marks.Head) {
            m_acc.clear();
            m_inFrame = true;
        } else if (m_inFrame) {
            if (!m_escape && c == marks.Ctrl) {
                m_escape = true;
            } else if (!m_escape && c == marks.Tail) {
                onPackage(m_acc.data(), static_cast<std::uint32_t>(m_acc.size()));
                m_acc.clear();
                m_inFrame = false;
            } else {
                if (m_acc.size() < m_maxLength) m_acc.push_back(c);
                m_escape = false;
            }
        } else {
            m_escape = !m_escape && c == marks.Ctrl;
        }
    }
}

} // namespace TalonComm
