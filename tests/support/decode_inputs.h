// Seeded generators of decoder inputs for the differential tests, the fuzz
// seeds and the codec benchmark: well-formed LZSS streams and HF containers of
// every shape the formats allow (overlapping matches, matches a full window
// back, stored, empty and coded blocks, incomplete codes, codes far longer
// than a lookup table resolves), and damage to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/bytes.h"
#include "tests/support/seeded_content.h"

namespace morivane::testing {

using Bytes = std::vector<std::uint8_t>;

// A stream together with what it must expand to.
struct LzssSample {
    Bytes stream;
    Bytes content;  // every byte the stream produces but the last
};

// A container together with where its blocks start, for targeted damage.
struct ContainerSample {
    Bytes bytes;
    std::vector<std::size_t> blockStarts;
    std::vector<bool> blockCoded;
};

class DecodeInputs {
  public:
    explicit DecodeInputs(std::uint32_t seed) : rng_(seed) {}

    // A stream of `tokens` literals and matches, then the tail byte and End.
    // Matches take every length 2..17 and every distance from 1 up to a full
    // window; they copy only what the stream has written, unless
    // `anyPosition`, when positions are drawn from the whole window (and the
    // content is then only meaningful if the stream happens to stay valid).
    LzssSample LzssStream(std::size_t tokens, bool anyPosition = false);

    // A container that unpacks to `content`: one to six blocks, each stored
    // or coded at random, coded ones with a random prefix code over the bytes
    // they hold (sometimes with spare values, unassigned branches or codes of
    // dozens of bits).
    ContainerSample Container(ByteSpan content);

    // `n` random bytes; `content` of `n` bytes drawn from a small alphabet,
    // so that it compresses and codes like script data.
    Bytes RandomBytes(std::size_t n);
    Bytes SkewedBytes(std::size_t n);

    // One to three random changes: bit flips, overwritten, inserted or
    // deleted bytes, truncation, trailing junk.
    Bytes Damage(Bytes bytes);
    // Like Damage, and also changes aimed at a container's fields: the
    // unpacked size, a block's B or N, a code length.
    Bytes DamageContainer(const ContainerSample& sample);

    std::uint32_t Below(std::uint32_t n) { return rng_.Below(n); }

  private:
    // Random prefix code over `symbols`: codes[s] holds the bits of s's code.
    void SplitCodes(std::vector<int>& symbols, std::size_t first, std::size_t last,
                    std::vector<std::uint8_t>& prefix, std::vector<Bytes>& codes, int& holes);
    void AppendCodedBlock(Bytes& out, ByteSpan block);

    testdata::Rng rng_;
};

}  // namespace morivane::testing
