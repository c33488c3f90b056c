// The two halves of the builder under the script: the table of matches (every
// match real, reach never falling back, the displacement of the last match
// tried after a change) and the plan (the cheapest cover of the new file under
// the cost model, as an exhaustive search finds it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "tests/support/file_pairs.h"
#include "tools/builder/match_finder.h"
#include "tools/builder/parse.h"

namespace morivane {
namespace {

using testing::Bytes;
using testing::Concat;
using testing::Random;
using testing::Slice;

void ExpectTableHolds(const Bytes& old, const Bytes& neu, const MatchTable& table) {
    ASSERT_EQ(table.Size(), neu.size());
    for (std::size_t i = 0; i < neu.size(); ++i) {
        const std::size_t length = table.Length(i), from = table.Source(i);
        if (length > 0) {
            ASSERT_LE(from + length, old.size()) << i;
            ASSERT_LE(i + length, neu.size()) << i;
            ASSERT_EQ(std::memcmp(old.data() + from, neu.data() + i, length), 0) << i;
        }
        if (i + 1 < neu.size()) {
            ASSERT_LE(i + length, i + 1 + table.Length(i + 1)) << i;
        }
    }
}

TEST(MatchTable, MatchesAreRealAndReachNeverFallsBack) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        const Bytes old = testdata::MachineCode(20000, seed);
        const Bytes neu = testing::Edited(old, seed, 60);
        ExpectTableHolds(old, neu, MatchTable::Find(old, neu));
    }
    ExpectTableHolds(Bytes(5000, 0), Bytes(7000, 0),
                     MatchTable::Find(Bytes(5000, 0), Bytes(7000, 0)));
    ExpectTableHolds({}, Random(100, 1), MatchTable::Find({}, Random(100, 1)));
}

TEST(MatchTable, ResumesTheDisplacementAfterAChangedByte) {
    // Seven bytes inserted at the front, one byte changed at 500: the bytes
    // after the change continue 7 bytes back in the old file.
    const Bytes old = Random(4000, 2);
    Bytes neu = Concat({Random(7, 3), old});
    neu[500] ^= 0x80;
    const MatchTable table = MatchTable::Find(old, neu);
    EXPECT_EQ(table.Source(7), 0u);
    EXPECT_EQ(table.Length(7), 493u);
    EXPECT_EQ(table.Source(501), 494u);
    EXPECT_EQ(table.Length(501), neu.size() - 501);
}

TEST(MatchTable, ALongerMatchFoundLaterTakesOverWhereItBegins) {
    // From position 0 the new file matches 40 bytes at old offset 100; that
    // match is searched again once it has fewer than 16 bytes left (at 25), and
    // the search finds the source at 300, which matches from position 10 on.
    const Bytes neu = Random(200, 4);
    const Bytes old =
        Concat({Random(100, 5), Slice(neu, 0, 40), Random(160, 6), Slice(neu, 10, 190)});
    const MatchTable table = MatchTable::Find(old, neu);
    EXPECT_EQ(table.Source(9), 109u);
    EXPECT_EQ(table.Length(9), 31u);
    EXPECT_EQ(table.Source(10), 300u);
    EXPECT_EQ(table.Length(10), 190u);
    ExpectTableHolds(old, neu, table);
}

TEST(MatchTable, UnitStartsLookForAWholeUnit) {
    // Zeros: the first old run of them is 90 bytes long. The match found at
    // position 0 has 26 bytes left at position 64, too few for a unit of 32,
    // and the search once it has run short finds the same run again, which
    // cannot reach back to 64. Only a search at the unit's start finds it there.
    const Bytes old = Concat({Bytes(90, 0), Bytes(1, 1), Bytes(500, 0)});
    const Bytes neu(256, 0);
    EXPECT_EQ(MatchTable::Find(old, neu).Length(64), 26u);
    const std::uint32_t unit = 32;
    const MatchTable table = MatchTable::Find(old, neu, {.units = {&unit, 1}});
    EXPECT_GE(table.Length(64), 32u);
    ExpectTableHolds(old, neu, table);
}

// The cheapest cover of the units [i, N) by brute force over the same choices
// the plan has: literal runs of any length, copy runs from the table's source
// at their first unit for up to its whole units.
std::uint64_t Cheapest(const MatchTable& table, std::size_t units, std::uint32_t unit,
                       const ParseCosts& c, std::size_t i, std::vector<std::uint64_t>& memo) {
    if (i == units) return 0;
    if (memo[i] != std::numeric_limits<std::uint64_t>::max()) return memo[i];
    std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t literal = c.runEntry;
    for (std::size_t k = i + 1; k <= units; ++k) {
        for (std::size_t b = (k - 1) * unit; b < k * unit; ++b) {
            literal += c.literalBytes.empty() ? c.literalByte
                                              : c.literalBytes[b] * (256 / kLiteralCostScale);
        }
        best = std::min(best, literal + Cheapest(table, units, unit, c, k, memo));
    }
    for (std::size_t k = 1; k <= table.Length(i * unit) / unit; ++k) {
        best = std::min(best, c.runEntry + c.offset + Cheapest(table, units, unit, c, i + k, memo));
    }
    return memo[i] = best;
}

TEST(PlanRuns, FindsTheCheapestCover) {
    for (std::uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(seed);
        testdata::Rng rng(seed);
        const Bytes old = testdata::MachineCode(300, seed);
        Bytes neu = testing::Edited(old, seed, 1 + static_cast<int>(rng.Below(12)));
        const std::uint32_t unit = 1 + rng.Below(3);
        neu.resize(std::min<std::size_t>(neu.size(), 240) / unit * unit);
        std::vector<std::uint8_t> perByte(neu.size());
        for (auto& c : perByte) c = static_cast<std::uint8_t>(rng.Below(40));
        ParseCosts costs{.runEntry = 1 + rng.Below(600),
                         .offset = rng.Below(2000),
                         .literalByte = 1 + rng.Below(400)};
        if (rng.Below(2)) costs.literalBytes = perByte;

        const MatchTable table = MatchTable::Find(old, neu);
        const Plan plan = PlanRuns(table, neu.size(), unit, costs);
        std::vector<std::uint64_t> memo(neu.size() / unit,
                                        std::numeric_limits<std::uint64_t>::max());
        EXPECT_EQ(plan.cost, Cheapest(table, neu.size() / unit, unit, costs, 0, memo));

        // The runs cover the new file in order, copies from real sources.
        std::size_t at = 0;
        for (const PlannedRun& r : plan.runs) {
            ASSERT_EQ(r.newUnit, at);
            if (r.copy) {
                ASSERT_EQ(
                    std::memcmp(old.data() + r.oldOffset, neu.data() + at * unit, r.units * unit),
                    0);
            }
            at += r.units;
        }
        EXPECT_EQ(at, neu.size() / unit);
    }
}

TEST(PlanRuns, CheapPoolBytesAreCarriedRatherThanCopied) {
    const Bytes old = Random(1000, 10);
    const MatchTable table = MatchTable::Find(old, old);
    ASSERT_EQ(PlanRuns(table, old.size(), 1).runs.size(), 1u);
    EXPECT_TRUE(PlanRuns(table, old.size(), 1).runs[0].copy);
    const std::vector<std::uint8_t> free(old.size(), 0);
    const Plan plan = PlanRuns(table, old.size(), 1, {.literalBytes = free});
    ASSERT_EQ(plan.runs.size(), 1u);
    EXPECT_FALSE(plan.runs[0].copy);
}

TEST(EstimateLiteralCosts, RepeatsWithinTheWindowCostLessThanNewBytes) {
    const Bytes piece = Random(3000, 11);
    const Bytes neu = Concat({piece, piece, Random(5000, 12), piece});
    const std::vector<std::uint8_t> costs = EstimateLiteralCosts(neu);
    ASSERT_EQ(costs.size(), neu.size());
    auto average = [&](std::size_t from, std::size_t n) {
        double sum = 0;
        for (std::size_t k = from; k < from + n; ++k) sum += costs[k];
        return sum / static_cast<double>(n) / kLiteralCostScale;
    };
    EXPECT_NEAR(average(0, 3000), 9.0 / 8, 0.01);     // new: 9-bit literals
    EXPECT_NEAR(average(3000, 3000), 1.0 / 8, 0.01);  // 17-byte matches of 17 bits
    // The last copy lies more than 4 KB after the earlier ones: no match.
    EXPECT_NEAR(average(11000, 3000), 9.0 / 8, 0.01);
}

}  // namespace
}  // namespace morivane
