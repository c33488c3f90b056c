// Old and new files for the builder's tests: slices and joins of byte
// strings, and new files made from old ones by the kinds of change an update
// brings (bytes changed here and there, blocks inserted, deleted and moved).
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tests/support/seeded_content.h"

namespace morivane::testing {

using Bytes = std::vector<std::uint8_t>;
using testdata::Random;

inline Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// `old` after `edits` random changes, each one of: 1 to 4 bytes changed, up to
// 64 new bytes inserted, up to 64 bytes deleted, a block of up to 256 bytes
// moved elsewhere. Deterministic for a seed.
inline Bytes Edited(const Bytes& old, std::uint32_t seed, int edits) {
    testdata::Rng rng(seed);
    Bytes out = old;
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = out.empty() ? 0 : rng.Below(static_cast<std::uint32_t>(out.size()));
        const auto pos = out.begin() + static_cast<std::ptrdiff_t>(at);
        switch (rng.Below(4)) {
            case 0:
                for (std::size_t k = 0, n = 1 + rng.Below(4); k < n && at + k < out.size(); ++k) {
                    out[at + k] = static_cast<std::uint8_t>(out[at + k] + 1 + rng.Below(255));
                }
                break;
            case 1: {
                const Bytes fresh = Random(1 + rng.Below(64), rng.Next());
                out.insert(pos, fresh.begin(), fresh.end());
                break;
            }
            case 2:
                out.erase(pos, pos + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                         1 + rng.Below(64), out.size() - at)));
                break;
            default: {
                const std::size_t n = std::min<std::size_t>(1 + rng.Below(256), out.size() - at);
                const Bytes block = Slice(out, at, n);
                out.erase(pos, pos + static_cast<std::ptrdiff_t>(n));
                const std::size_t to =
                    out.empty() ? 0 : rng.Below(static_cast<std::uint32_t>(out.size()));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(to), block.begin(),
                           block.end());
            }
        }
    }
    return out;
}

}  // namespace morivane::testing
