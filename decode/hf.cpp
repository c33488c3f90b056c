#include "decode/hf.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "decode/bit_window.h"
#include "decode/lzss.h"

namespace morivane {

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

// Builds the tree from one coded block's code lengths and code table. Every
// value's code is walked from the root, handing out node numbers in order;
// its last entry becomes the leaf. A code that runs through an existing leaf,
// or ends on an entry that is already taken, means the lengths are no prefix
// code; running out of node numbers means the code cannot be held. Gives the
// longest code's length in *longest.
DecodeStatus BuildTree(const HfBlock& block, Tree& tree, int* longest) {
    for (auto& side : tree) side.fill(kUnassigned);
    std::int32_t nodes = 0;
    *longest = 0;
    BitReader bits(block.codeTable, block.codeTable + block.tableBytes);
    for (int s = 0; s < 256; ++s) {
        const int length = block.codeLengths[s];
        if (length == 0) continue;
        *longest = std::max(*longest, length);
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

// The first `bits` bits of the coded data index a table that resolves every
// code of at most that length in one step. An entry holds the byte value in
// bits 8..15 and the code's length in bits 0..7; 0 means that the prefix
// leads to a longer code or into an unassigned branch, which the tree walk
// settles bit by bit.
constexpr int kMaxTableBits = 11;
struct LookupTable {
    int bits = 1;
    std::array<std::uint16_t, 1u << kMaxTableBits> entries{};
};

void FillFromNode(const Tree& tree, std::int32_t node, int depth, std::uint32_t prefix,
                  LookupTable& table) {
    for (std::uint32_t bit = 0; bit < 2; ++bit) {
        const std::int32_t entry = tree[bit][node];
        const int length = depth + 1;
        const std::uint32_t code = (prefix << 1) | bit;
        if (entry < 0) {
            const int spare = table.bits - length;
            const auto value = static_cast<std::uint16_t>(((entry & 0xFF) << 8) | length);
            std::fill_n(table.entries.begin() + (code << spare), 1u << spare, value);
        } else if (entry != kUnassigned && length < table.bits) {
            FillFromNode(tree, entry, length, code, table);
        }
    }
}

// Sized to the longest code, up to kMaxTableBits, so that small blocks build
// small tables.
void BuildLookupTable(const Tree& tree, int longestCode, LookupTable& table) {
    table.bits = std::clamp(longestCode, 1, kMaxTableBits);
    std::fill_n(table.entries.begin(), 1u << table.bits, std::uint16_t{0});
    FillFromNode(tree, 0, 0, 0, table);
}

// Decodes one byte by walking the tree from the root, one bit at a time.
DecodeStatus WalkTree(const Tree& tree, BitCursor& in, std::uint8_t* out) {
    std::int32_t node = 0;
    do {
        if (in.Left() == 0) return DecodeStatus::HfCodedDataExhausted;
        const auto bit = static_cast<std::size_t>(in.Window() >> 63);
        in.Skip(1);
        node = tree[bit][node];
        if (node == kUnassigned) return DecodeStatus::HfUnassignedCode;
    } while (node >= 0);
    *out = static_cast<std::uint8_t>(node & 0xFF);
    return DecodeStatus::Ok;
}

// Decodes `count` bytes of one block's coded data. A window of 57 bits holds
// 57 / table bits whole codes that the table resolves; a code the table does
// not resolve, or one that would need bits past the end of the data, is
// walked instead, so every outcome is the walk's.
DecodeStatus DecodeBlock(const Tree& tree, const LookupTable& table, BitCursor in,
                         std::uint8_t* out, std::uint32_t count) {
    const unsigned shift = 64 - static_cast<unsigned>(table.bits);
    const std::uint32_t codesPerWindow = 57 / static_cast<std::uint32_t>(table.bits);
    std::uint32_t i = 0;
    while (i < count) {
        std::uint64_t window = in.Window();
        const std::uint64_t left = in.Left();
        std::uint64_t used = 0;
        const std::uint32_t group = std::min<std::uint32_t>(codesPerWindow, count - i);
        std::uint32_t c = 0;
        for (; c < group; ++c) {
            const std::uint16_t entry = table.entries[window >> shift];
            const unsigned length = entry & 0xFF;
            if (length == 0 || length > left - used) break;
            out[i + c] = static_cast<std::uint8_t>(entry >> 8);
            window <<= length;
            used += length;
        }
        i += c;
        in.Skip(used);
        if (c < group) {
            const DecodeStatus walked = WalkTree(tree, in, out + i);
            if (walked != DecodeStatus::Ok) return walked;
            ++i;
        }
    }
    return DecodeStatus::Ok;
}

}  // namespace

bool IsHfContainer(ByteSpan data) {
    return data.size() >= kHfMagicOffset + 2 && LoadLe16(data.data() + kHfMagicOffset) == kHfMagic;
}

std::int64_t HfUnpackedSize(ByteSpan data) {
    if (!IsHfContainer(data) || data.size() < kHfHeaderSize) return -1;
    return LoadLe32(data.data() + 4);
}

HfBlockWalker::HfBlockWalker(ByteSpan container) : data_(container) {
    const std::int64_t unpacked = HfUnpackedSize(container);
    if (unpacked < 0) {
        Stop(DecodeStatus::HfNotContainer);
        return;
    }
    unpacked_ = static_cast<std::uint32_t>(unpacked);
}

bool HfBlockWalker::Stop(DecodeStatus why, HfBlockPart part) {
    status_ = why;
    pastEnd_ = part;
    finished_ = true;
    return false;
}

bool HfBlockWalker::Next(HfBlock* block) {
    if (finished_) return false;
    *block = HfBlock{};
    const std::uint8_t* const base = data_.data();
    const std::uint64_t size = data_.size();
    // Every remaining size below is size - at with at <= size, so no
    // subtraction wraps and no sum of offsets can pass the end unnoticed.
    std::uint64_t at = offset_;
    block->offset = at;
    if (size - at < kHfBlockHeaderSize) {
        return Stop(DecodeStatus::HfBlockPastEnd, HfBlockPart::Header);
    }
    block->bits = LoadLe32(base + at);
    block->produced = LoadLe32(base + at + 4);
    at += kHfBlockHeaderSize;
    if (block->produced > unpacked_ - total_) return Stop(DecodeStatus::HfOvershoot);

    if (!block->Coded()) {
        block->dataBytes = block->produced;
    } else {
        if (size - at < kHfCodeLengthsSize) {
            return Stop(DecodeStatus::HfBlockPastEnd, HfBlockPart::CodeLengths);
        }
        block->codeLengths = base + at;
        for (int s = 0; s < 256; ++s) block->codeBits += block->codeLengths[s];
        block->tableBytes = (block->codeBits + 7) / 8;
        at += kHfCodeLengthsSize;
        if (size - at < block->tableBytes) {
            return Stop(DecodeStatus::HfBlockPastEnd, HfBlockPart::CodeTable);
        }
        block->codeTable = base + at;
        at += block->tableBytes;
        block->dataBytes = (static_cast<std::uint64_t>(block->bits) + 7) / 8;
    }
    if (size - at < block->dataBytes) return Stop(DecodeStatus::HfBlockPastEnd, HfBlockPart::Data);
    block->data = base + at;
    block->end = at + block->dataBytes;

    offset_ = block->end;
    total_ += block->produced;
    // Blocks go on until their bytes reach the unpacked size; there is always
    // at least one.
    finished_ = total_ == unpacked_;
    return true;
}

ByteBuffer HfUnpack(ByteSpan container, DecodeStatus* status, HfPosition* where) {
    if (status != nullptr) *status = DecodeStatus::Ok;
    HfPosition ignored;
    if (where == nullptr) where = &ignored;
    *where = HfPosition();
    HfBlockWalker blocks(container);
    if (blocks.Status() != DecodeStatus::Ok) return Fail(status, blocks.Status());
    const std::uint32_t unpacked = blocks.UnpackedSize();

    // A stored byte costs a byte of the container and a coded byte at least a
    // bit, so a size beyond 8 bits per container byte cannot be genuine. This
    // bounds the allocation by the input before anything is allocated.
    if (unpacked > (static_cast<std::uint64_t>(container.size()) - kHfHeaderSize) * 8) {
        return Fail(status, DecodeStatus::HfImpossibleSize);
    }
    if (unpacked > 0x7FFFFFFFu) return Fail(status, DecodeStatus::OutOfMemory);

    // Every byte of the output is written before it is returned (the blocks
    // must add up to exactly the unpacked size), so it need not be zeroed.
    auto* memory = static_cast<std::uint8_t*>(std::malloc(unpacked > 0 ? unpacked : 1));
    ByteBuffer out = ByteBuffer::Adopt(memory, static_cast<std::int32_t>(unpacked));
    if (!out) return Fail(status, DecodeStatus::OutOfMemory);

    std::uint8_t* write = out.data();
    Tree tree;
    LookupTable lookup;
    HfBlock block;
    for (std::int64_t number = 0;; ++number) {
        const bool more = blocks.Next(&block);
        // A block the walker refuses is reported at its own place too.
        if (more || blocks.Status() != DecodeStatus::Ok) *where = HfPosition{number, block.offset};
        if (!more) break;
        if (!block.Coded()) {
            if (block.produced > 0) std::memcpy(write, block.data, block.produced);
        } else {
            int longestCode = 0;
            const DecodeStatus built = BuildTree(block, tree, &longestCode);
            if (built != DecodeStatus::Ok) return Fail(status, built);
            BuildLookupTable(tree, longestCode, lookup);
            // The reader stops at the end of this block's coded data.
            const BitCursor coded(block.data, static_cast<std::size_t>(block.dataBytes));
            const DecodeStatus decoded = DecodeBlock(tree, lookup, coded, write, block.produced);
            if (decoded != DecodeStatus::Ok) return Fail(status, decoded);
        }
        write += block.produced;
    }
    if (blocks.Status() != DecodeStatus::Ok) return Fail(status, blocks.Status());
    return out;
}

ByteBuffer HfUnpack(ByteSpan container, DecodeStatus* status) {
    return HfUnpack(container, status, nullptr);
}

ByteBuffer HfLzssUnpack(ByteSpan container, DecodeStatus* status, HfPosition* where) {
    ByteBuffer stream = HfUnpack(container, status, where);
    if (!stream) return {};
    return LzssExpand(stream.span(), status);
}

ByteBuffer HfLzssUnpack(ByteSpan container, DecodeStatus* status) {
    return HfLzssUnpack(container, status, nullptr);
}

}  // namespace morivane
