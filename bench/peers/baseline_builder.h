// The straightforward script builder that the side-by-side benchmark measures
// our payloads against: the first thing that works at every step, in the same
// SABUNN script format.
//
//   copies   every byte offset of the old file is indexed by a hash of the
//            unit-sized window starting there; for each new unit the first
//            candidate (lowest offset) whose window equals the unit exactly is
//            taken and the copy is extended unit by unit while the old file
//            keeps matching; units without a match become literals;
//   packing  greedy LZSS (longest match at each position) and one Huffman
//            block (coded or stored, whichever is smaller).
//
// Nothing here is used by the product or by `sabunn`.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/bytes.h"

namespace morivane::bench {

struct BaselineScriptStats {
    std::uint32_t runs = 0;
    std::uint32_t copies = 0;
    std::uint32_t literalUnits = 0;
};

// The script that rebuilds `neu` from `old` with units of `unit` bytes (> 0).
// `neu` must be a whole number of units; otherwise, or when a file is 2 GiB or
// longer, the result is empty (a script is never shorter than its header).
// Copies never read past the old file's last byte. Runs are at most 32,767
// units, no entry is 0. `stats`, when given, receives the script's counts.
std::vector<std::uint8_t> BaselineScript(ByteSpan old, ByteSpan neu, int unit,
                                         BaselineScriptStats* stats = nullptr);

// HF(greedy LZSS(script)) in one Huffman block. Empty only when the script is
// too long for the encoders.
std::vector<std::uint8_t> BaselinePack(ByteSpan script);

}  // namespace morivane::bench
