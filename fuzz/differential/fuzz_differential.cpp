// Every byte string goes through each decoder and its reference decoder: as
// an LZSS stream, as an HF container, and, so that mutations reach the blocks
// without first having to find the magic, behind a container header of our
// own whose unpacked size is taken from the first two bytes. The two must
// both fail, or both give the same bytes; any difference aborts.
//
// The limits that matter most sit on the blocks' fields: a coded block whose
// data ends a few bits early, a byte count one past what is left. Random
// mutations seldom move B or N by just that much, so one mutation in three
// does it on purpose: it moves a block's B or N, in the layout the target
// reads, by a small amount, and N together with the unpacked size so that
// the blocks still add up.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "tests/support/decode_differential.h"

namespace {

using morivane::ByteSpan;

void Check(const std::string& difference) {
    if (difference.empty()) return;
    std::fprintf(stderr, "decoders disagree: %s\n", difference.c_str());
    std::abort();
}

// Bytes that are no container, behind a header of our own: the unpacked size
// from their first two bytes, the blocks from their third byte on.
constexpr std::size_t kOwnHeaderShift = morivane::kHfHeaderSize - 2;

std::vector<std::uint8_t> BehindOwnHeader(const std::uint8_t* data, std::size_t size) {
    using namespace morivane;
    std::vector<std::uint8_t> container(kHfHeaderSize, 0);
    StoreLe32(container.data() + 4, LoadLe16(data));
    StoreLe16(container.data() + kHfMagicOffset, kHfMagic);
    container.insert(container.end(), data + 2, data + size);
    return container;
}

// Adds `delta` to the little-endian field of `width` bytes at `at`.
void Nudge(std::uint8_t* at, int width, std::int64_t delta) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    value += static_cast<std::uint64_t>(delta);
    for (int i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
    using namespace morivane;
    std::minstd_rand rng(seed);
    if (rng() % 3 != 0 || size < 2) return LLVMFuzzerMutate(data, size, maxSize);

    // Where the block headers lie in `data`, found with the decoder's own walk
    // over the container the target reads (a failing block's header too, when
    // it is whole).
    const bool whole = IsHfContainer({data, size});
    const std::vector<std::uint8_t> view =
        whole ? std::vector<std::uint8_t>(data, data + size) : BehindOwnHeader(data, size);
    const std::size_t shift = whole ? 0 : kOwnHeaderShift;
    std::vector<std::size_t> headers;
    HfBlockWalker blocks(view);
    HfBlock block;
    while (blocks.Next(&block)) headers.push_back(block.offset - shift);
    const DecodeStatus stop = blocks.Status();
    if (stop == DecodeStatus::HfOvershoot ||
        (stop == DecodeStatus::HfBlockPastEnd && blocks.PastEndPart() != HfBlockPart::Header)) {
        headers.push_back(block.offset - shift);
    }
    if (headers.empty()) return LLVMFuzzerMutate(data, size, maxSize);

    static constexpr std::int64_t kDeltas[] = {1, 2, 3, 7, 8, 9, 16, 64};
    const std::int64_t delta = kDeltas[rng() % std::size(kDeltas)] * (rng() % 2 ? 1 : -1);
    std::uint8_t* header = data + headers[rng() % headers.size()];
    if (rng() % 2 == 0) {
        Nudge(header, 4, delta);  // B
    } else {
        Nudge(header + 4, 4, delta);  // N, and the unpacked size with it
        whole ? Nudge(data + 4, 4, delta) : Nudge(data, 2, delta);
    }
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morivane;
    Check(testing::DiffAllDecoders({data, size}));
    if (size < 2) return 0;
    Check(testing::DiffHfStages(BehindOwnHeader(data, size)));
    return 0;
}
