// Head/tail frame decoder: arbitrary streams in arbitrary chunks, and resynchronisation after
// garbage. Properties: chunking never changes what is decoded; no package exceeds the maximum
// length; after any garbage, one complete frame puts the decoder back in step, so the next
// frame decodes to exactly what was encoded.

#include "fuzz/FuzzInput.h"
#include "serial/TFrameCodec.h"

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using TalonComm::TFrameCodec;
using TalonComm::TFrameMarks;

std::vector<Bytes> decodeInChunks(TFrameCodec& codec, const Bytes& stream, const TFrameMarks& marks,
                                  evbfuzz::FuzzInput* cuts) {
    std::vector<Bytes> packages;
    const auto collect = [&](const std::uint8_t* p, std::uint32_t n) { packages.emplace_back(p, p + n); };
    std::size_t pos = 0;
    while (pos < stream.size()) {
        std::size_t n = stream.size() - pos;
        if (cuts && !cuts->empty()) n = std::min<std::size_t>(n, cuts->byte() % 32 + 1);
        codec.Decode(stream.data() + pos, n, marks, collect);
        pos += n;
    }
    return packages;
}

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    TFrameMarks marks;
    if (in.flag()) { // otherwise the package layer's defaults
        marks.Head = in.byte();
        marks.Tail = in.byte();
        marks.Ctrl = in.byte();
    }
    marks.DoubleMark = in.flag();
    const std::uint32_t maxLength = in.byte() % 64 + 1 + (in.flag() ? 4096 : 0);

    const Bytes garbage = bytesOf(in.chunk(512));
    const Bytes payload = bytesOf(in.chunk(512));
    const Bytes cutBytes = bytesOf(in.rest());

    // Any stream: one call and many small calls decode the same packages.
    TFrameCodec whole(maxLength);
    TFrameCodec pieces(maxLength);
    const std::vector<Bytes> a = decodeInChunks(whole, garbage, marks, nullptr);
    evbfuzz::FuzzInput cuts(cutBytes.data(), cutBytes.size());
    const std::vector<Bytes> b = decodeInChunks(pieces, garbage, marks, &cuts);
    evbfuzz::require(a == b, "chunking does not change the decoded packages");
    evbfuzz::require(whole.InFrame() == pieces.InFrame(), "chunking does not change the decoder state");
    for (const Bytes& p : a)
        evbfuzz::require(p.size() <= maxLength, "no package exceeds the maximum length");

    // With three distinct markers a frame is unambiguous: after garbage, the first full frame
    // resynchronises and the second decodes exactly.
    if (marks.Head == marks.Tail || marks.Head == marks.Ctrl || marks.Tail == marks.Ctrl) return 0;
    Bytes frame;
    TFrameCodec::Encode(payload.data(), payload.size(), marks, frame);
    Bytes stream = garbage;
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), frame.begin(), frame.end());
    TFrameCodec codec(maxLength);
    evbfuzz::FuzzInput cuts2(cutBytes.data(), cutBytes.size());
    const std::vector<Bytes> got = decodeInChunks(codec, stream, marks, &cuts2);
    evbfuzz::require(!got.empty(), "an encoded frame always yields a package");
    const Bytes want(payload.begin(), payload.begin() + std::min<std::size_t>(payload.size(), maxLength));
    evbfuzz::require(got.back() == want, "a frame after garbage decodes to what was encoded");
    evbfuzz::require(!codec.InFrame(), "the decoder is between frames after a complete frame");

    // A fresh decoder decodes a single frame to exactly one package.
    TFrameCodec fresh(maxLength);
    const std::vector<Bytes> one = decodeInChunks(fresh, frame, marks, nullptr);
    evbfuzz::require(one.size() == 1 && one[0] == want, "one frame decodes to one package");
    return 0;
}
