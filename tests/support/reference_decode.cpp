#include "tests/support/reference_decode.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "decode/hf.h"
#include "decode/lzss.h"
#include "tests/support/reference_bitfile.h"

namespace morivane::reference {

namespace {

ByteBuffer Fail(DecodeStatus* status, DecodeStatus why) {
    if (status != nullptr) *status = why;
    return {};
}

// Reads bits most significant first from [p, end), refusing to go past end.
class BitReader {
  public:
    BitReader(const std::uint8_t* p, const std::uint8_t* end) : p_(p), end_(end) {}
    // Stores the next bit in *bit; false when the bytes are used up.
    bool Next(int* bit) {
        if (mask_ == 0) {
            if (p_ == end_) return false;
            rack_ = *p_++;
            mask_ = 0x80;
        }
        *bit = (rack_ & mask_) != 0;
        mask_ >>= 1;
        return true;
    }

  private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
    unsigned rack_ = 0;
    unsigned mask_ = 0;
};

// The decoding tree: two tables of 512 entries indexed by node number, one
// followed on a 1 bit and one on a 0 bit. An entry is an inner node 1..511, a
// leaf stored as (byte value - 256), or kUnassigned. Node 0 is the root.
constexpr std::int32_t kUnassigned = 0x7FFF;
using Tree = std::array<std::array<std::int32_t, kHfMaxNodes>, 2>;

// Builds the tree from the code lengths and the code table of one coded block.
// Every value's code is walked from the root, handing out node numbers in
// order; its last entry becomes the leaf. A code that runs through an existing
// leaf, or ends on an entry that is already taken, means the lengths are no
// prefix code; running out of node numbers means the code cannot be held.
DecodeStatus BuildTree(const std::uint8_t* lengths, const std::uint8_t* table,
                       const std::uint8_t* tableEnd, Tree& tree) {
    for (auto& side : tree) side.fill(kUnassigned);
    std::int32_t nodes = 0;
    BitReader bits(table, tableEnd);
    for (int s = 0; s < 256; ++s) {
        const int length = lengths[s];
        if (length == 0) continue;
        std::int32_t node = 0;
        std::int32_t* entry = nullptr;
        for (int i = 0; i < length; ++i) {
            int bit = 0;
            if (!bits.Next(&bit)) return DecodeStatus::HfBlockPastEnd;  // cannot happen: sized by S
            if (node < 0) return DecodeStatus::HfBadCodeLengths;        // walked through a leaf
            entry = &tree[bit][node];
            if (*entry == kUnassigned) {
                if (nodes == kHfMaxNodes - 1) return DecodeStatus::HfBadCodeLengths;
                *entry = ++nodes;
            } else if (i == length - 1) {
                return DecodeStatus::HfBadCodeLengths;  // code ends on a taken entry
            }
            node = *entry;
        }
        *entry = s - 256;
    }
    return DecodeStatus::Ok;
}

struct SourceCloser {
    void operator()(BitFile* f) const { FreeBitFile(f); }
};
struct SinkDiscarder {
    void operator()(BitFile* f) const { DiscardBitFile(f); }
};

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

ByteBuffer HfUnpack(ByteSpan container, DecodeStatus* status) {
    if (status != nullptr) *status = DecodeStatus::Ok;
    const std::int64_t unpacked = HfUnpackedSize(container);
    if (unpacked < 0) return Fail(status, DecodeStatus::HfNotContainer);

    // A stored byte costs a byte of the container and a coded byte at least a
    // bit, so a size beyond 8 bits per container byte cannot be genuine. This
    // bounds the allocation by the input before anything is allocated.
    const std::uint64_t size = container.size();
    if (static_cast<std::uint64_t>(unpacked) > (size - kHfHeaderSize) * 8) {
        return Fail(status, DecodeStatus::HfImpossibleSize);
    }
    if (unpacked > 0x7FFFFFFF) return Fail(status, DecodeStatus::OutOfMemory);

    ByteBuffer out = ByteBuffer::Allocate(static_cast<std::int32_t>(unpacked));
    if (!out) return Fail(status, DecodeStatus::OutOfMemory);

    const std::uint8_t* const base = container.data();
    std::uint64_t offset = kHfHeaderSize;
    std::uint64_t total = 0;
    std::uint8_t* write = out.data();
    Tree tree;

    do {
        if (size - offset < kHfBlockHeaderSize) return Fail(status, DecodeStatus::HfBlockPastEnd);
        const std::uint32_t bits = LoadLe32(base + offset);
        const std::uint32_t produced = LoadLe32(base + offset + 4);
        offset += kHfBlockHeaderSize;
        if (produced > static_cast<std::uint64_t>(unpacked) - total) {
            return Fail(status, DecodeStatus::HfOvershoot);
        }

        if (bits == 0) {  // stored block
            if (size - offset < produced) return Fail(status, DecodeStatus::HfBlockPastEnd);
            if (produced > 0) std::memcpy(write, base + offset, produced);
            offset += produced;
        } else {  // coded block
            if (size - offset < kHfCodeLengthsSize)
                return Fail(status, DecodeStatus::HfBlockPastEnd);
            const std::uint8_t* lengths = base + offset;
            std::uint64_t codeBits = 0;
            for (int s = 0; s < 256; ++s) codeBits += lengths[s];
            const std::uint64_t tableBytes = (codeBits + 7) / 8;
            offset += kHfCodeLengthsSize;
            if (size - offset < tableBytes) return Fail(status, DecodeStatus::HfBlockPastEnd);
            const std::uint8_t* table = base + offset;
            offset += tableBytes;
            const std::uint64_t dataBytes = (static_cast<std::uint64_t>(bits) + 7) / 8;
            if (size - offset < dataBytes) return Fail(status, DecodeStatus::HfBlockPastEnd);

            const DecodeStatus built = BuildTree(lengths, table, table + tableBytes, tree);
            if (built != DecodeStatus::Ok) return Fail(status, built);

            // Each byte walks the tree from the root until it reaches a leaf.
            // The reader stops at the end of this block's coded data.
            BitReader reader(base + offset, base + offset + dataBytes);
            for (std::uint32_t i = 0; i < produced; ++i) {
                std::int32_t node = 0;
                do {
                    int bit = 0;
                    if (!reader.Next(&bit)) return Fail(status, DecodeStatus::HfCodedDataExhausted);
                    node = tree[bit][node];
                    if (node == kUnassigned) return Fail(status, DecodeStatus::HfUnassignedCode);
                } while (node >= 0);
                write[i] = static_cast<std::uint8_t>(node & 0xFF);
            }
            offset += dataBytes;
        }
        write += produced;
        total += produced;
    } while (total < static_cast<std::uint64_t>(unpacked));
    return out;
}

ByteBuffer HfLzssUnpack(ByteSpan container, DecodeStatus* status) {
    // Qualified: the product's decoders are found by argument lookup too.
    ByteBuffer stream = reference::HfUnpack(container, status);
    if (!stream) return {};
    return reference::LzssExpand(stream.span(), status);
}

}  // namespace morivane::reference
