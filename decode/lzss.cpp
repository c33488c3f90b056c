#include "decode/lzss.h"

#include <array>
#include <cstdlib>
#include <memory>

#include "decode/bitfile.h"

namespace morivane {

namespace {

struct SourceCloser {
    void operator()(BitFile* f) const { FreeBitFile(f); }
};
struct SinkDiscarder {
    void operator()(BitFile* f) const { DiscardBitFile(f); }
};

ByteBuffer Fail(DecodeStatus* status, DecodeStatus why) {
    if (status != nullptr) *status = why;
    return {};
}

}  // namespace

ByteBuffer LzssExpand(ByteSpan input, DecodeStatus* status) {
    if (status != nullptr) *status = DecodeStatus::Ok;
    if (input.size() > 0x7FFFFFFFu) return Fail(status, DecodeStatus::OutOfMemory);
    const auto length = static_cast<std::uint32_t>(input.size());

    // The output starts at the input's size and grows in 4096-byte steps.
    auto* out = static_cast<std::uint8_t*>(std::malloc(length > 0 ? length : 1));
    if (out == nullptr) return Fail(status, DecodeStatus::OutOfMemory);
    std::unique_ptr<BitFile, SinkDiscarder> sink(OpenBitFile(out, length > 0 ? length : 1));
    if (!sink) {
        std::free(out);
        return Fail(status, DecodeStatus::OutOfMemory);
    }
    // The source only reads; BitFile's pointer is non-const because one record
    // type serves both roles.
    std::unique_ptr<BitFile, SourceCloser> source(
        OpenBitFile(const_cast<std::uint8_t*>(input.data()), length));
    if (!source) return Fail(status, DecodeStatus::OutOfMemory);

    // The window is this expansion's own and starts zeroed. A well-formed
    // stream only copies positions it has written itself, so nothing left by
    // an earlier expansion could show through anyway; a stream that copies a
    // position it has not written is damaged and is rejected rather than
    // allowed to reproduce zeros or leftovers.
    std::array<std::uint8_t, kLzssWindowSize> window{};
    constexpr std::uint32_t kMask = kLzssWindowSize - 1;
    std::uint32_t position = 1;
    BitFile* in = source.get();
    BitFile* sk = sink.get();

    for (;;) {
        if (InputBit(in) != 0) {
            const auto byte = static_cast<std::uint8_t>(ReadBits(in, 8));
            if (in->exhausted) return Fail(status, DecodeStatus::LzssTruncated);
            if (PutByte(byte, sk) < 0) return Fail(status, DecodeStatus::OutOfMemory);
            window[position] = byte;
            position = (position + 1) & kMask;
            continue;
        }
        const std::uint32_t from = ReadBits(in, kLzssPositionBits);
        if (in->exhausted) return Fail(status, DecodeStatus::LzssTruncated);
        if (from == 0) break;  // End
        const std::uint32_t n = ReadBits(in, kLzssLengthBits);
        if (in->exhausted) return Fail(status, DecodeStatus::LzssTruncated);
        for (std::uint32_t i = 0; i < n + kLzssMinMatch; ++i) {
            const std::uint32_t at = (from + i) & kMask;
            // Window index w holds the produced byte number (w - 1) mod 4096.
            if (sk->count < kLzssWindowSize && ((at + kMask) & kMask) >= sk->count) {
                return Fail(status, DecodeStatus::LzssUnwrittenCopy);
            }
            const std::uint8_t byte = window[at];
            if (PutByte(byte, sk) < 0) return Fail(status, DecodeStatus::OutOfMemory);
            window[position] = byte;
            position = (position + 1) & kMask;
        }
    }

    if (sk->count == 0) return Fail(status, DecodeStatus::LzssNothingProduced);
    return CloseBitFile(sink.release());
}

}  // namespace morivane
