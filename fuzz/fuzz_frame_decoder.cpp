// Head/tail frame decoder: arbitrary garbage followed by one frame twice, fed whole or in
// arbitrary chunks. Properties: chunking never changes what is decoded nor where the decoder
// ends; no package exceeds the maximum length; after any garbage, one complete frame puts the
// decoder back in step, so the next frame decodes to exactly what was encoded.

#include "fuzz/FuzzInput.h"
#include "serial/TFrameCodec.h"

using evbfuzz::Bytes;
using evbfuzz::require;
using TalonComm::TFrameCodec;

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
    const std::string_view garbage = in.chunk(512), payload = in.chunk(512); // the rest of in: chunk sizes
    Bytes frame, stream(garbage.begin(), garbage.end());
    TFrameCodec::Encode(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(), marks, frame);
    for (int i = 0; i < 2; ++i)
        stream.insert(stream.end(), frame.begin(), frame.end());

    // Decodes with a fresh decoder in the chunk sizes taken from sizes (none left: the rest in
    // one call); gives the packages and whether the decoder ends inside a frame.
    const auto decode = [&](evbfuzz::FuzzInput sizes) {
        TFrameCodec codec(maxLength);
        std::vector<Bytes> packages;
        for (std::size_t pos = 0, n; pos < stream.size(); pos += n) {
            n = sizes.empty() ? stream.size() - pos
                              : std::min<std::size_t>(stream.size() - pos, sizes.byte() % 32 + 1);
            codec.Decode(stream.data() + pos, n, marks,
                         [&](const std::uint8_t* p, std::uint32_t k) { packages.emplace_back(p, p + k); });
        }
        return std::pair(packages, codec.InFrame());
    };
    const auto whole = decode({nullptr, 0});
    require(decode(in) == whole, "chunking changes neither the decoded packages nor the decoder state");
    for (const Bytes& p : whole.first)
        require(p.size() <= maxLength, "no package exceeds the maximum length");

    // With three distinct markers a frame is unambiguous.
    if (marks.Head == marks.Tail || marks.Head == marks.Ctrl || marks.Tail == marks.Ctrl) return 0;
    const Bytes want(payload.begin(), payload.begin() + std::min<std::size_t>(payload.size(), maxLength));
    require(!whole.first.empty() && whole.first.back() == want,
            "a frame after garbage decodes to what was encoded");
    require(!whole.second, "the decoder is between frames after a complete frame");
    return 0;
}
