// The cost-driven choice of copy and literal runs for one unit size: the
// cheapest way, under a cost model of what each part of a script costs once
// compressed, to cover the new file with copy runs (from the sources of a
// MatchTable) and literal runs.
//
// A shortest path over the new file's units: a literal run costs one run entry
// plus its units, a copy run one run entry plus one offset whatever its length.
// A copy may start at any unit where the table has a match of a whole unit or
// more and end anywhere within that match; since position + match length never
// decreases, the copies that can end at a unit are those started in a window of
// earlier units, and a sliding minimum over that window keeps the whole pass
// linear. Runs stay within the format's 32,767 units.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/builder/match_finder.h"

namespace morivane {

// Costs in 1/256 of a byte of the packed payload.
struct ParseCosts {
    std::uint32_t runEntry = 256;     // one entry of the run list
    std::uint32_t offset = 4 * 256;   // one entry of the offset list
    std::uint32_t literalByte = 256;  // one byte of the literal pool
    // When not empty: what each byte of the new file costs in the pool, in
    // 1/kLiteralCostScale of a byte, in place of literalByte (see
    // EstimateLiteralCosts).
    std::span<const std::uint8_t> literalBytes = {};
};

inline constexpr std::uint32_t kLiteralCostScale = 32;

// What each byte of `neu` would cost in the pool if the pool held the new file
// around it: LZSS over the new file itself, a greedy parse with the nearest
// earlier occurrence of each 3-byte string within the 4 KB window. A byte
// coded as a literal costs 9 bits, the bytes of a match share its 17. The
// pool holds only the literal runs, so this is what long literal stretches
// cost, and too little for short ones between copies.
// In 1/kLiteralCostScale of a byte.
std::vector<std::uint8_t> EstimateLiteralCosts(ByteSpan neu);

// One run of a script before it is written: `units` units of the new file from
// unit `newUnit` on, copied from byte `oldOffset` of the old file or carried in
// the pool.
struct PlannedRun {
    bool copy = false;
    std::uint32_t units = 0;
    std::uint32_t newUnit = 0;
    std::uint32_t oldOffset = 0;
};

struct Plan {
    std::vector<PlannedRun> runs;  // in new-file order, each 1..32,767 units
    std::uint64_t cost = 0;        // the model's total, in 1/256 byte
};

// Plans the runs for a new file of `newBytes` bytes (a multiple of `unit`) from
// `matches`, which must have been found for that file. Adjacent runs of the
// same kind that could be one run are one run. Deterministic.
Plan PlanRuns(const MatchTable& matches, std::size_t newBytes, std::uint32_t unit,
              const ParseCosts& costs = {});

}  // namespace morivane
