#include "bench/peers/baseline_builder.h"

#include <algorithm>
#include <cstring>

#include "patch/sabunn_script.h"
#include "tools/encode/payload.h"

namespace morivane::bench {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::uint64_t kBase = 0x9E3779B97F4A7C15ull;  // odd, so rolling works mod 2^64

std::uint64_t HashWindow(const std::uint8_t* p, std::size_t n) {
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < n; ++i) h = h * kBase + p[i] + 1;
    return h;
}

// Offsets of the old file by window hash; each chain lists its offsets in
// increasing order, so the first exact match found is the lowest offset.
class WindowIndex {
  public:
    WindowIndex(ByteSpan old, std::size_t unit) {
        if (old.size() < unit) return;
        const std::size_t windows = old.size() - unit + 1;
        while ((std::size_t{1} << bits_) < windows && bits_ < 28) ++bits_;
        head_.assign(std::size_t{1} << bits_, kNone);
        tail_.assign(std::size_t{1} << bits_, kNone);
        next_.assign(windows, kNone);
        std::uint64_t top = 1;  // weight of the byte that leaves the window
        for (std::size_t i = 1; i < unit; ++i) top *= kBase;
        std::uint64_t h = HashWindow(old.data(), unit);
        for (std::size_t o = 0; o < windows; ++o) {
            const std::size_t slot = Slot(h);
            if (head_[slot] == kNone) {
                head_[slot] = static_cast<std::uint32_t>(o);
            } else {
                next_[tail_[slot]] = static_cast<std::uint32_t>(o);
            }
            tail_[slot] = static_cast<std::uint32_t>(o);
            if (o + 1 < windows) h = (h - (old[o] + 1ull) * top) * kBase + old[o + unit] + 1;
        }
    }

    std::uint32_t First(std::uint64_t h) const { return head_.empty() ? kNone : head_[Slot(h)]; }
    std::uint32_t Next(std::uint32_t o) const { return next_[o]; }

  private:
    std::size_t Slot(std::uint64_t h) const {
        return static_cast<std::size_t>((h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull >> (64 - bits_));
    }

    int bits_ = 10;
    std::vector<std::uint32_t> head_, tail_, next_;
};

}  // namespace

std::vector<std::uint8_t> BaselineScript(ByteSpan old, ByteSpan neu, int unitSize,
                                         BaselineScriptStats* stats) {
    if (unitSize < 1 || neu.size() % static_cast<std::size_t>(unitSize) != 0 ||
        old.size() > 0x7FFFFFFF || neu.size() > 0x7FFFFFFF) {
        return {};
    }
    const auto unit = static_cast<std::size_t>(unitSize);
    const std::size_t newUnits = neu.size() / unit;
    const WindowIndex index(old, unit);

    std::vector<std::int16_t> runs;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint8_t> pool;
    auto literal = [&](std::size_t from, std::size_t count) {
        pool.insert(pool.end(), neu.begin() + from * unit, neu.begin() + (from + count) * unit);
        while (count > 0) {
            const auto piece = std::min<std::size_t>(count, kScriptMaxRun);
            runs.push_back(static_cast<std::int16_t>(-static_cast<int>(piece)));
            count -= piece;
        }
    };

    std::size_t literalStart = 0;
    std::size_t j = 0;
    while (j < newUnits) {
        const std::uint8_t* target = neu.data() + j * unit;
        std::uint32_t found = kNone;
        for (std::uint32_t o = index.First(HashWindow(target, unit)); o != kNone;
             o = index.Next(o)) {
            if (std::memcmp(old.data() + o, target, unit) == 0) {
                found = o;
                break;
            }
        }
        if (found == kNone) {
            ++j;
            continue;
        }
        std::size_t units = 1;
        while (j + units < newUnits && found + (units + 1) * unit <= old.size() &&
               std::memcmp(old.data() + found + units * unit, target + units * unit, unit) == 0) {
            ++units;
        }
        literal(literalStart, j - literalStart);
        for (std::size_t done = 0; done < units;) {
            const auto piece = std::min<std::size_t>(units - done, kScriptMaxRun);
            runs.push_back(static_cast<std::int16_t>(piece));
            offsets.push_back(static_cast<std::uint32_t>(found + done * unit));
            done += piece;
        }
        j += units;
        literalStart = j;
    }
    literal(literalStart, newUnits - literalStart);

    if (stats != nullptr) {
        stats->runs = static_cast<std::uint32_t>(runs.size());
        stats->copies = static_cast<std::uint32_t>(offsets.size());
        stats->literalUnits = static_cast<std::uint32_t>(pool.size() / unit);
    }
    return EncodeScript(unitSize, runs, offsets, pool);
}

std::vector<std::uint8_t> BaselinePack(ByteSpan script) {
    return PackPayload(script, {.parse = LzssParse::Greedy, .oneBlock = true});
}

}  // namespace morivane::bench
