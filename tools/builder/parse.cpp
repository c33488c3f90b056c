#include "tools/builder/parse.h"

#include <algorithm>
#include <deque>

#include "decode/lzss.h"
#include "patch/sabunn_script.h"

namespace morivane {

namespace {

constexpr std::uint64_t kUnreached = ~std::uint64_t{0} / 4;
constexpr std::uint8_t kByCopy = 1;         // unit j was reached by a copy run
constexpr std::uint8_t kLiteralGoesOn = 2;  // the literal run open at j began before j - 1

// A copy run that may start at unit `start` and end anywhere up to `reach`,
// and what the cheapest way to arrive there with it costs.
struct Start {
    std::uint32_t start;
    std::uint32_t reach;
    std::uint64_t cost;
};

// Joins runs that could be one (a copy continuing the previous copy's source,
// two literal runs) and cuts runs longer than the format allows, keeping
// *cost in step: a join saves an entry (and an offset), a cut adds one.
std::vector<PlannedRun> Tidy(const std::vector<PlannedRun>& in, std::uint32_t unit,
                             const ParseCosts& costs, std::uint64_t* cost) {
    std::vector<PlannedRun> joined;
    for (const PlannedRun& r : in) {
        if (!joined.empty()) {
            PlannedRun& last = joined.back();
            const bool continues =
                last.copy == r.copy &&
                (!r.copy ||
                 std::uint64_t{last.oldOffset} + std::uint64_t{last.units} * unit == r.oldOffset);
            if (continues) {
                last.units += r.units;
                *cost -= costs.runEntry + (r.copy ? costs.offset : 0);
                continue;
            }
        }
        joined.push_back(r);
    }
    std::vector<PlannedRun> out;
    for (PlannedRun r : joined) {
        while (r.units > static_cast<std::uint32_t>(kScriptMaxRun)) {
            PlannedRun piece = r;
            piece.units = kScriptMaxRun;
            out.push_back(piece);
            *cost += costs.runEntry;
            r.units -= kScriptMaxRun;
            r.newUnit += kScriptMaxRun;
            if (r.copy) r.oldOffset += static_cast<std::uint32_t>(kScriptMaxRun) * unit;
        }
        out.push_back(r);
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> EstimateLiteralCosts(ByteSpan neu) {
    constexpr std::uint8_t kLiteral = 9 * kLiteralCostScale / 8;  // 9 bits
    constexpr std::size_t kWindow = kLzssWindowSize;
    constexpr std::size_t kMinMatch = 3;
    const std::size_t n = neu.size();
    std::vector<std::uint8_t> costs(n, kLiteral);
    std::vector<std::uint32_t> latest(std::size_t{1} << 16, 0);  // position + 1; 0: none
    auto slot = [&](std::size_t k) {
        const std::uint32_t v = static_cast<std::uint32_t>(neu[k]) << 16 |
                                static_cast<std::uint32_t>(neu[k + 1]) << 8 | neu[k + 2];
        return (v * 2654435761u) >> 16;
    };
    for (std::size_t k = 0; k + kMinMatch <= n;) {
        const std::uint32_t s = slot(k);
        const std::uint32_t seen = latest[s];
        latest[s] = static_cast<std::uint32_t>(k + 1);
        if (seen != 0 && k - (seen - 1) < kWindow) {
            const std::size_t from = seen - 1;
            const std::size_t length = CommonPrefix(neu.data() + from, neu.data() + k,
                                                    std::min<std::size_t>(kLzssMaxMatch, n - k));
            if (length >= kMinMatch) {
                const auto share = static_cast<std::uint8_t>(17 * kLiteralCostScale / 8 / length);
                std::fill(costs.begin() + static_cast<std::ptrdiff_t>(k),
                          costs.begin() + static_cast<std::ptrdiff_t>(k + length), share);
                k += length;
                continue;
            }
        }
        ++k;
    }
    return costs;
}

Plan PlanRuns(const MatchTable& matches, std::size_t newBytes, std::uint32_t unit,
              const ParseCosts& costs) {
    Plan plan;
    const std::size_t units = unit == 0 ? 0 : newBytes / unit;
    if (units == 0 || matches.Size() < newBytes) return plan;

    const bool perByte = costs.literalBytes.size() >= newBytes;
    const std::uint64_t flatLiteralUnit = std::uint64_t{costs.literalByte} * unit;
    const std::uint64_t copyRun = std::uint64_t{costs.runEntry} + costs.offset;
    // How unit j was reached: by a copy run of back[j] units, or by a literal
    // run (how[j], which also says whether the literal run open at j began
    // before j - 1). A copy is at most 32,767 units long.
    std::vector<std::uint16_t> back(units + 1, 0);
    std::vector<std::uint8_t> how(units + 1, 0);
    MatchTable::Reader reader(matches);
    std::deque<Start> starts;            // increasing start and reach, increasing cost
    std::uint64_t best = 0;              // cheapest cover of the units before j
    std::uint64_t literal = kUnreached;  // the same, ending in a literal run

    for (std::size_t j = 1; j <= units; ++j) {
        const std::size_t i = j - 1;
        const std::uint32_t matched = std::min<std::uint32_t>(
            reader.At(i * unit).length / unit, static_cast<std::uint32_t>(kScriptMaxRun));
        if (matched > 0) {
            const Start s{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i + matched),
                          best + copyRun};
            while (!starts.empty() && starts.back().cost >= s.cost) starts.pop_back();
            starts.push_back(s);
        }
        while (!starts.empty() && starts.front().reach < j) starts.pop_front();

        std::uint64_t literalUnit = flatLiteralUnit;
        if (perByte) {
            literalUnit = 0;
            for (std::size_t b = i * unit; b < j * unit; ++b) literalUnit += costs.literalBytes[b];
            literalUnit *= 256 / kLiteralCostScale;
        }
        const std::uint64_t goOn = literal + literalUnit;
        const std::uint64_t open = best + costs.runEntry + literalUnit;
        how[j] = goOn <= open ? kLiteralGoesOn : 0;
        literal = std::min(goOn, open);
        best = literal;
        if (!starts.empty() && starts.front().cost < best) {
            best = starts.front().cost;
            back[j] = static_cast<std::uint16_t>(j - starts.front().start);
            how[j] |= kByCopy;
        }
    }
    plan.cost = best;

    std::vector<PlannedRun> reversed;
    for (std::size_t j = units; j > 0;) {
        if ((how[j] & kByCopy) != 0) {
            const auto start = static_cast<std::uint32_t>(j - back[j]);
            reversed.push_back({true, back[j], start, 0});
            j = start;
        } else {
            const std::size_t end = j;
            while ((how[j] & kLiteralGoesOn) != 0) --j;
            --j;  // the run was opened at unit j - 1
            reversed.push_back(
                {false, static_cast<std::uint32_t>(end - j), static_cast<std::uint32_t>(j), 0});
        }
    }
    std::reverse(reversed.begin(), reversed.end());
    MatchTable::Reader sources(matches);
    for (PlannedRun& r : reversed) {
        if (r.copy) r.oldOffset = sources.At(std::size_t{r.newUnit} * unit).source;
    }
    plan.runs = Tidy(reversed, unit, costs, &plan.cost);
    return plan;
}

}  // namespace morivane
