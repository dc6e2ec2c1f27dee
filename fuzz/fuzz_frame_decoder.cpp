// Head/tail frame decoder: arbitrary streams in arbitrary chunks, and resynchronisation after
// garbage. Properties: chunking never changes what is decoded; no package exceeds the maximum
// length; after any garbage, one complete frame puts the decoder back in step, so the next
// frame decodes to exactly what was encoded.

#include "fuzz/FuzzInput.h"
#include "serial/TFrameCodec.h"

using evbfuzz::Bytes;
using evbfuzz::require;
using TalonComm::TFrameCodec;

namespace {

// Decodes with a fresh decoder in one call, or in the chunk sizes cuts gives.
std::vector<Bytes> decode(const Bytes& stream, const TalonComm::TFrameMarks& marks, std::uint32_t maxLength,
                          const Bytes* cuts, bool* inFrame = nullptr) {
    TFrameCodec codec(maxLength);
    std::vector<Bytes> packages;
    evbfuzz::FuzzInput sizes(cuts ? cuts->data() : nullptr, cuts ? cuts->size() : 0);
    for (std::size_t pos = 0, n; pos < stream.size(); pos += n) {
        n = sizes.empty() ? stream.size() - pos
                          : std::min<std::size_t>(stream.size() - pos, sizes.byte() % 32 + 1);
        codec.Decode(stream.data() + pos, n, marks,
                     [&](const std::uint8_t* p, std::uint32_t k) { packages.emplace_back(p, p + k); });
    }
    if (inFrame) *inFrame = codec.InFrame();
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

    bool wholeInFrame = false, piecesInFrame = false;
    const std::vector<Bytes> a = decode(garbage, marks, maxLength, nullptr, &wholeInFrame);
    require(a == decode(garbage, marks, maxLength, &cuts, &piecesInFrame),
            "chunking does not change the decoded packages");
    require(wholeInFrame == piecesInFrame, "chunking does not change the decoder state");
    for (const Bytes& p : a)
        require(p.size() <= maxLength, "no package exceeds the maximum length");

    // With three distinct markers a frame is unambiguous: after garbage, the first full frame
    // resynchronises and the second decodes exactly.
    if (marks.Head == marks.Tail || marks.Head == marks.Ctrl || marks.Tail == marks.Ctrl) return 0;
    Bytes frame;
    TFrameCodec::Encode(payload.data(), payload.size(), marks, frame);
    Bytes stream = garbage;
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), frame.begin(), frame.end());
    bool inFrame = true;
    const std::vector<Bytes> got = decode(stream, marks, maxLength, &cuts, &inFrame);
    const Bytes want(payload.begin(), payload.begin() + std::min<std::size_t>(payload.size(), maxLength));
    require(!got.empty() && got.back() == want, "a frame after garbage decodes to what was encoded");
    require(!inFrame, "the decoder is between frames after a complete frame");
    require(decode(frame, marks, maxLength, nullptr) == std::vector<Bytes>{want},
            "one frame decodes to one package");
    return 0;
}
