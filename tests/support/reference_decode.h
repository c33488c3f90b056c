// Reference decoders for the two payload stages, the oracle that the product's
// decoders (decode/) are checked against by the differential tests, the
// differential fuzz target and the codec benchmark. They are written apart
// from decode/ and share no code with it: LZSS one bit at a time through
// BitFile, the HF container through the two 512-entry tree tables with one
// tree step per bit. Their limits on damaged input are their own too, so
// that a limit missing or wrong on either side shows as a disagreement.
//
// What counts as damage, on both sides: an LZSS stream that runs out before
// its End token, that copies a window position it has not written itself, or
// that produces no byte; a container without the magic or a whole header,
// with a block reaching past its end, with blocks producing more or fewer
// bytes than its unpacked size, with codes that are no prefix code or need
// node numbers above 511, or with coded data that runs out or takes an
// unassigned branch.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace morivane::reference {

// A decoder's outcome: the bytes, or a failure and a few words on why.
struct Decoded {
    bool ok = false;
    std::vector<std::uint8_t> bytes;
    std::string failure;
};

using Input = std::span<const std::uint8_t>;

// Expands an LZSS stream: every byte it produces but the last.
Decoded LzssExpand(Input stream);

// The Huffman stage of an HF container: the bytes its blocks produce.
Decoded HfUnpack(Input container);

// Both stages: the container's bytes expanded as an LZSS stream.
Decoded HfLzssUnpack(Input container);

}  // namespace morivane::reference
