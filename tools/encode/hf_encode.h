// HF container writer: the Huffman stage that decode/hf.h unpacks.
//
// Layout written (little-endian):
//   header, 24 bytes: u32 container size (header included), u32 unpacked
//   size, "HF", 14 zero bytes;
//   blocks covering the data in order, each u32 B, u32 N and then either
//     B = 0: the N bytes as they are (stored), or
//     B > 0: 256 code lengths, the code of every present value in increasing
//            order of value, zero-padded to a byte, then the B bits of coded
//            data, zero-padded to a byte (coded).
// Each coded block carries its own Huffman code built from its byte counts,
// with codes of at most kHfMaxCodeLength bits. The code is complete whenever
// two or more values occur, so the expander's tree needs 2n - 2 <= 510 node
// numbers; a block of a single value gets that value a 1-bit code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "decode/bytes.h"

namespace morivane {

inline constexpr int kHfMaxCodeLength = 24;
// Largest block the writer makes: at kHfMaxCodeLength bits a byte, its coded
// bit count still fits B's 32 bits. Longer data is split into more blocks.
inline constexpr std::uint32_t kHfMaxBlockSize = 1u << 27;
// Largest input: the decoder's output length is a signed 32-bit number.
inline constexpr std::size_t kHfMaxUnpacked = 0x7FFFFFFF;

enum class HfBlockMode {
    Smaller,  // each block coded or stored, whichever is fewer bytes
    Stored,   // every block stored
    Coded,    // every non-empty block coded, even when that is larger
};

enum class HfSplit {
    // Blocks of HfPackOptions::blockSize bytes (one block when that is 0).
    Fixed,
    // The block boundaries that HfSplitBlocks chooses (blockSize is ignored).
    Search,
};

struct HfPackOptions {
    // Bytes per block; 0 means one block for the whole data (up to
    // kHfMaxBlockSize). Values above kHfMaxBlockSize are capped to it.
    std::uint32_t blockSize = 0;
    HfBlockMode mode = HfBlockMode::Smaller;
    HfSplit split = HfSplit::Fixed;
};

// Builds a container whose unpacked content is exactly `data`. Empty data
// gives a container with one empty stored block. Returns an empty vector only
// when the data is longer than kHfMaxUnpacked (a container is never empty).
// Deterministic.
std::vector<std::uint8_t> HfPack(ByteSpan data, const HfPackOptions& options = {});

// Block lengths for `data` that make a small container in `mode`: lengths of
// consecutive blocks, each 1..kHfMaxBlockSize bytes, adding up to data.size()
// (a single 0 for empty data). Each coded block pays 264 bytes and a code
// table for a code fitted to its own bytes, so the split follows changes in
// the byte statistics only where the saving outweighs that: adjacent pieces
// are merged while a merge shrinks the container, boundaries are then moved
// in shrinking steps while that helps. The result is never larger than one
// block (or the fewest blocks kHfMaxBlockSize allows). Deterministic.
std::vector<std::uint32_t> HfSplitBlocks(ByteSpan data, HfBlockMode mode = HfBlockMode::Smaller);

// Builds a container whose blocks have the given lengths, in order. Returns an
// empty vector when the lengths do not add up to data.size(), when one is 0
// for non-empty data or above kHfMaxBlockSize, when `lengths` is empty, or
// when the data is longer than kHfMaxUnpacked. Deterministic.
std::vector<std::uint8_t> HfPackBlocks(ByteSpan data, std::span<const std::uint32_t> lengths,
                                       HfBlockMode mode = HfBlockMode::Smaller);

// The code lengths HfPackBlocks gives a block of these bytes in `mode`, all 0
// when it stores the block instead. For accounting: a coded byte b costs
// lengths[b] bits, a stored one 8.
std::array<std::uint8_t, 256> HfBlockCodeLengths(ByteSpan block,
                                                 HfBlockMode mode = HfBlockMode::Smaller);

// Huffman code lengths for byte counts `counts`: 0 for every absent value, at
// most kHfMaxCodeLength bits, a complete prefix code when two or more values
// occur, length 1 when exactly one does. Exposed for tests and tooling.
std::array<std::uint8_t, 256> HfCodeLengths(const std::array<std::uint64_t, 256>& counts);

}  // namespace morivane
