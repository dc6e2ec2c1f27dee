// Head/tail frame decoder: arbitrary garbage followed by one frame twice, fed whole or in
// arbitrary chunks. Properties: chunking never changes what is decoded nor where the decoder
// ends; no package exceeds the maximum length; after any garbage, one complete frame puts the
// decoder back in step, so the next frame decodes to exactly what was encoded.

#include "fuzz/FuzzInput.h"
#include "serial/TFrameCodec.h"

using evbfuzz::Bytes;
using evbfuzz::require;
using TalonComm::TFrameCodec;

namespace {

// Decodes with a fresh decoder in the chunk sizes cuts gives (empty: in one call).
std::vector<Bytes> decode(const Bytes& stream, const TalonComm::TFrameMarks& marks, std::uint32_t maxLength,
                          const Bytes& cuts, bool& inFrame) {
    TFrameCodec codec(maxLength);
    std::vector<Bytes> packages;
    evbfuzz::FuzzInput sizes(cuts.data(), cuts.size());
    for (std::size_t pos = 0, n; pos < stream.size(); pos += n) {
        n = sizes.empty() ? stream.size() - pos
                          : std::min<std::size_t>(stream.size() - pos, sizes.byte() % 32 + 1);
        codec.Decode(stream.data() + pos, n, marks,
                     [&](const std::uint8_t* p, std::uint32_t k) { packages.emplace_back(p, p + k); });
    }
    inFrame = codec.InFrame();
    return packages;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    TalonComm::TFrameMarks marks;
    if (in.flag()) { // otherwise the package layer's defaults
        marks.Head = in.byte();
        marks.Tail = in.byte();
        marks.Ctrl = in.byte();
    }
    marks.DoubleMark = in.flag();
    const std::uint32_t maxLength = in.byte() % 64 + 1 + (in.flag() ? 4096 : 0);
    const Bytes garbage = in.bytes(512), payload = in.bytes(512), cuts = in.bytes(0);
    Bytes frame, stream = garbage;
    TFrameCodec::Encode(payload.data(), payload.size(), marks, frame);
    for (int i = 0; i < 2; ++i)
        stream.insert(stream.end(), frame.begin(), frame.end());

    bool wholeInFrame = false, piecesInFrame = false;
    const std::vector<Bytes> got = decode(stream, marks, maxLength, {}, wholeInFrame);
    require(got == decode(stream, marks, maxLength, cuts, piecesInFrame) && wholeInFrame == piecesInFrame,
            "chunking changes neither the decoded packages nor the decoder state");
    for (const Bytes& p : got)
        require(p.size() <= maxLength, "no package exceeds the maximum length");

    // With three distinct markers a frame is unambiguous.
    if (marks.Head == marks.Tail || marks.Head == marks.Ctrl || marks.Tail == marks.Ctrl) return 0;
    const Bytes want(payload.begin(), payload.begin() + std::min<std::size_t>(payload.size(), maxLength));
    require(!got.empty() && got.back() == want, "a frame after garbage decodes to what was encoded");
    require(!wholeInFrame, "the decoder is between frames after a complete frame");
    return 0;
}
