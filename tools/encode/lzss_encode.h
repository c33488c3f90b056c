// LZSS compression into the stream format that decode/lzss.h expands.
//
// The stream produced for `content`:
//   tokens for content followed by one extra 0x00 byte (the tail byte, which
//   expansion produces and drops; it is compressed like any other byte and may
//   be part of a match),
//   the End token (a 0 flag and 12 zero bits),
//   zero bits up to the next byte boundary.
// Matches obey the expander's window rules: the k-th produced byte (0-based)
// lives at window index (1 + k) mod 4096, a match names the window index of
// its first source byte, which must be 1..4095 (index 0 spells End), so a byte
// whose k is 4095 mod 4096 never starts a match; a match reaches at most 4096
// bytes back, never before the first byte of the stream, and copies 2..17
// bytes (it may overlap the bytes it produces).
//
// Empty content gives the 3-byte stream holding only the tail byte and End;
// LzssExpand returns that as a valid, empty buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "decode/bytes.h"

namespace morivane {

// How tokens are chosen.
enum class LzssParse {
    // Minimum stream size for the matches found: every literal costs 9 bits and
    // every match 17, so a shortest-path pass over the longest match available
    // at each position is optimal.
    Optimal,
    // The longest match at the current position whenever there is one; the
    // classic baseline.
    Greedy,
};

struct LzssEncodeOptions {
    LzssParse parse = LzssParse::Optimal;
    // Candidates examined per position in the hash chains. Larger finds more
    // of the longest matches and costs time; the search always stops early at a
    // match of the maximum length. 4096 makes the search exhaustive.
    int maxChainDepth = 256;
    // For accounting only: the content split into consecutive parts, given by
    // the offset where each part ends (increasing, the last at most the
    // content's size). LzssEncodeStats::partBits then says what each part's
    // tokens cost. The stream does not depend on it.
    std::span<const std::size_t> partEnds = {};
};

// What a compression produced, for benchmarks and tests.
struct LzssEncodeStats {
    std::uint64_t literals = 0;  // tokens for content and tail byte alike
    std::uint64_t matches = 0;
    std::uint64_t bits = 0;  // tokens and End, without the final padding
    // With LzssEncodeOptions::partEnds: the bits of the tokens that start in
    // each part. Tokens follow the content's order, so part k's tokens occupy
    // the stream's bits from the sum of the parts before it on. The tail byte,
    // content after the last part and End make up the rest of `bits`.
    std::vector<std::uint64_t> partBits;
};

// Largest content LzssCompress accepts: with its tail byte it must fit the
// expander's signed 32-bit output length.
inline constexpr std::size_t kLzssMaxContent = 0x7FFFFFFE;

// Compresses `content` into a complete stream (see above) that LzssExpand
// turns back into exactly `content`. Returns an empty vector only when the
// content is longer than kLzssMaxContent (a valid stream is never empty).
// `stats`, when given, receives the token counts. Deterministic.
std::vector<std::uint8_t> LzssCompress(ByteSpan content, const LzssEncodeOptions& options = {},
                                       LzssEncodeStats* stats = nullptr);

}  // namespace morivane
