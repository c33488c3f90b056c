// The layout of an HF container for `sabunn info`: the figures of every block
// that the decoder's own walk (HfBlockWalker, decode/hf.h) accepts, without
// decoding any of them.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/bytes.h"

namespace morivane {

struct HfBlockInfo {
    std::uint64_t offset = 0;      // where the block header starts
    std::uint64_t blockBytes = 0;  // the whole block, header included
    std::uint32_t bits = 0;        // B: bits of coded data; 0 marks a stored block
    std::uint32_t produced = 0;    // N: bytes the block produces
    bool coded = false;
    // Coded blocks only:
    std::uint32_t codeBits = 0;    // S: sum of the 256 code lengths
    std::uint32_t tableBytes = 0;  // (S + 7) / 8
    std::uint64_t dataBytes = 0;   // (B + 7) / 8; for a stored block, N
    int symbols = 0;               // byte values that have a code
    int shortestCode = 0;          // in bits, over the values that have a code
    int longestCode = 0;
};

struct HfDescription {
    bool container = false;          // the magic and the whole 24-byte header are there
    std::uint32_t declaredSize = 0;  // offset 0: total size (the decoder ignores it)
    std::uint32_t unpackedSize = 0;  // offset 4
    std::vector<HfBlockInfo> blocks;
    std::uint64_t bytesUsed = 0;  // end of the last block described
    // Null when the blocks lie inside the data and add up to the unpacked size;
    // otherwise why the walk stopped. Code tables and coded data are not
    // decoded, so a container described as sound may still fail to unpack.
    const char* problem = nullptr;
};

// Describes `data`. Never reads outside it; a block that would reach past the
// end, or produce more than the unpacked size, is left out and named as the
// problem.
HfDescription HfDescribe(ByteSpan data);

}  // namespace morivane
