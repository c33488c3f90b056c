#include "tools/builder/script_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "decode/hf.h"

namespace morivane {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// One entry of the run list before it is written: a copy of `units` units from
// byte `oldOffset` of the old file, or a literal run of the `units` new units
// starting at unit `newStart` (which is where the pool takes them from).
struct Run {
    bool copy;
    std::uint32_t units;
    std::uint32_t newStart;
    std::uint32_t oldOffset;
};

// Polynomial hash of a window, base kBase, modulo 2^64. The same function rolls
// over the old file and is evaluated afresh on each new unit.
constexpr std::uint64_t kBase = 0x100000001B3ull;

std::uint64_t HashWindow(const std::uint8_t* p, std::size_t n) {
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < n; ++i) h = h * kBase + p[i];
    return h;
}

// Number of leading bytes on which a and b agree, looking at most n bytes.
std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            // Byte order of the loads decides which end of the XOR is first.
            std::uint64_t d = x ^ y;
            if constexpr (std::endian::native == std::endian::little) {
                return i + static_cast<std::size_t>(__builtin_ctzll(d) / 8);
            } else {
                return i + static_cast<std::size_t>(__builtin_clzll(d) / 8);
            }
        }
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Every offset of the old file whose unit-sized window lies inside the file,
// chained by hash slot. Chains list offsets in increasing order.
class OldIndex {
  public:
    OldIndex(ByteSpan old, std::size_t unit) {
        if (old.size() < unit) return;
        const std::size_t windows = old.size() - unit + 1;
        int bits = 10;
        while ((std::size_t{1} << bits) < 2 * windows && bits < 28) ++bits;
        shift_ = 64 - bits;
        head_.assign(std::size_t{1} << bits, kNone);
        next_.assign(windows, kNone);

        // Slots in a forward rolling pass, then insertion from the last offset
        // back so that each chain starts at its lowest offset.
        std::vector<std::uint32_t> slot(windows);
        std::uint64_t top = 1;  // kBase^(unit-1): weight of the byte leaving
        for (std::size_t i = 1; i < unit; ++i) top *= kBase;
        std::uint64_t h = HashWindow(old.data(), unit);
        for (std::size_t o = 0;; ++o) {
            slot[o] = Slot(h);
            if (o + 1 == windows) break;
            h = (h - old[o] * top) * kBase + old[o + unit];
        }
        for (std::size_t o = windows; o-- > 0;) {
            next_[o] = head_[slot[o]];
            head_[slot[o]] = static_cast<std::uint32_t>(o);
        }
    }

    std::uint32_t Slot(std::uint64_t h) const {
        return static_cast<std::uint32_t>((h * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    std::uint32_t First(std::uint64_t h) const { return head_.empty() ? kNone : head_[Slot(h)]; }
    std::uint32_t Next(std::uint32_t offset) const { return next_[offset]; }

  private:
    int shift_ = 64;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> next_;
};

struct Match {
    std::uint32_t offset = 0;
    std::uint32_t units = 0;
};

// The candidate offset whose match with the new file from unit `j` on runs
// over the most consecutive units.
Match LongestMatch(const OldIndex& index, ByteSpan old, ByteSpan neu, std::size_t unit,
                   std::size_t j, int maxCandidates) {
    const std::size_t newUnits = neu.size() / unit;
    const std::uint8_t* target = neu.data() + j * unit;
    Match best;
    int seen = 0;
    for (std::uint32_t o = index.First(HashWindow(target, unit));
         o != kNone && seen < maxCandidates; o = index.Next(o), ++seen) {
        const std::size_t reach =
            std::min(newUnits - j, (old.size() - o) / unit);  // units this offset can give
        if (reach <= best.units) continue;
        const std::uint8_t* source = old.data() + o;
        // A candidate can only beat the best if it also matches the unit where
        // the best one stopped; checking that first rejects most cheaply.
        if (best.units > 0 &&
            std::memcmp(source + best.units * unit, target + best.units * unit, unit) != 0) {
            continue;
        }
        const std::size_t units = CommonPrefix(source, target, reach * unit) / unit;
        if (units > best.units) {
            best = {o, static_cast<std::uint32_t>(units)};
            if (units == newUnits - j) break;  // nothing can be longer
        }
    }
    return best;
}

void AppendRun(std::vector<Run>& runs, bool copy, std::uint64_t units, std::uint32_t newStart,
               std::uint64_t oldOffset, std::size_t unit) {
    while (units > 0) {
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(units, kScriptMaxRun));
        runs.push_back({copy, piece, newStart, static_cast<std::uint32_t>(oldOffset)});
        units -= piece;
        newStart += piece;
        if (copy) oldOffset += std::uint64_t{piece} * unit;
    }
}

// Changes the run count by one without changing what the script rebuilds.
void AdjustRunCount(std::vector<Run>& runs, std::size_t unit) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        Run& r = runs[i];
        if (r.units < 2) continue;
        Run rest = r;
        rest.units = r.units - 1;
        rest.newStart = r.newStart + 1;
        if (r.copy) rest.oldOffset = r.oldOffset + static_cast<std::uint32_t>(unit);
        r.units = 1;
        runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
        return;
    }
    // Every run is one unit long (and there are at least two, as R > 0x4648):
    // the first two become one literal run of two units.
    runs[0] = {false, 2, runs[0].newStart, 0};
    runs.erase(runs.begin() + 1);
}

}  // namespace

const char* BuildStatusText(BuildStatus status) {
    switch (status) {
        case BuildStatus::Ok:
            return "ok";
        case BuildStatus::BadUnit:
            return "the unit size must be at least 1";
        case BuildStatus::NewNotWholeUnits:
            return "the new file's length is not a multiple of the unit size";
        case BuildStatus::TooLarge:
            return "a file is larger than 2 GiB - 1 byte";
    }
    return "unknown";
}

std::vector<std::uint8_t> BuildScript(ByteSpan old, ByteSpan neu, int unitSize,
                                      const BuildOptions& options, BuildReport* report) {
    BuildReport local;
    BuildReport& rep = report != nullptr ? *report : local;
    rep = BuildReport{};
    if (unitSize < 1) {
        rep.status = BuildStatus::BadUnit;
        return {};
    }
    if (old.size() > kMaxBuildFileBytes || neu.size() > kMaxBuildFileBytes) {
        rep.status = BuildStatus::TooLarge;
        return {};
    }
    const auto unit = static_cast<std::size_t>(unitSize);
    if (neu.size() % unit != 0) {
        rep.status = BuildStatus::NewNotWholeUnits;
        return {};
    }
    const std::size_t newUnits = neu.size() / unit;
    // A copy run costs its entry, its offset and (inside literals) one more
    // literal entry: 8 bytes, which shorter copies do not save.
    const std::size_t minCopyUnits = 8 / unit + 1;
    const int maxCandidates = std::max(1, options.maxCandidates);

    const OldIndex index(old, unit);
    std::vector<Run> runs;
    std::size_t literalStart = 0;
    std::size_t j = 0;
    while (j < newUnits) {
        const Match m = LongestMatch(index, old, neu, unit, j, maxCandidates);
        if (m.units >= minCopyUnits) {
            AppendRun(runs, false, j - literalStart, static_cast<std::uint32_t>(literalStart), 0,
                      unit);
            AppendRun(runs, true, m.units, static_cast<std::uint32_t>(j), m.offset, unit);
            j += m.units;
            literalStart = j;
        } else {
            ++j;
        }
    }
    AppendRun(runs, false, newUnits - literalStart, static_cast<std::uint32_t>(literalStart), 0,
              unit);

    if (options.plainStorable && (runs.size() & 0xFFFF) == kHfMagic) {
        AdjustRunCount(runs, unit);
        rep.runCountAdjusted = true;
    }

    std::size_t copies = 0, literalUnits = 0;
    for (const Run& r : runs) {
        if (r.copy) {
            ++copies;
        } else {
            literalUnits += r.units;
        }
    }

    std::vector<std::uint8_t> script(kScriptHeaderSize + 2 * runs.size() + 4 * copies +
                                     literalUnits * unit);
    std::uint8_t* p = script.data();
    StoreLe32(p + 0, static_cast<std::uint32_t>(newUnits));
    StoreLe32(p + 4, static_cast<std::uint32_t>(unit));
    StoreLe32(p + 8, static_cast<std::uint32_t>(runs.size()));
    StoreLe32(p + 12, static_cast<std::uint32_t>(copies));
    StoreLe32(p + 16, static_cast<std::uint32_t>(literalUnits));
    std::uint8_t* entry = p + kScriptHeaderSize;
    std::uint8_t* offset = entry + 2 * runs.size();
    std::uint8_t* pool = offset + 4 * copies;
    for (const Run& r : runs) {
        if (r.copy) {
            StoreLe16(entry, static_cast<std::uint16_t>(r.units));
            StoreLe32(offset, r.oldOffset);
            offset += 4;
        } else {
            StoreLe16(entry, static_cast<std::uint16_t>(-static_cast<std::int32_t>(r.units)));
            std::memcpy(pool, neu.data() + std::size_t{r.newStart} * unit, r.units * unit);
            pool += r.units * unit;
        }
        entry += 2;
    }

    rep.newUnits = static_cast<std::uint32_t>(newUnits);
    rep.unitSize = static_cast<std::uint32_t>(unit);
    rep.runCount = static_cast<std::uint32_t>(runs.size());
    rep.copyCount = static_cast<std::uint32_t>(copies);
    rep.literalUnits = static_cast<std::uint32_t>(literalUnits);
    return script;
}

bool PlainScriptLooksLikeHf(ByteSpan script) {
    return IsHfContainer(script);
}

}  // namespace morivane
