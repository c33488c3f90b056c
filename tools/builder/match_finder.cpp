#include "tools/builder/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace morivane {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kKeyBytes = 8;
// The head table has about one slot per old offset, up to 4 Mi slots (16 MB).
constexpr int kMaxSlotBits = 22;

std::uint64_t Key(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadLe32(p)) | static_cast<std::uint64_t>(LoadLe32(p + 4))
                                                         << 32;
}

// Every offset of the old file whose 8 bytes lie inside it, chained by hash
// slot; each chain lists its offsets in increasing order.
class OldIndex {
  public:
    explicit OldIndex(ByteSpan old) {
        if (old.size() < kKeyBytes) return;
        const std::size_t keys = old.size() - kKeyBytes + 1;
        int bits = 10;
        while ((std::size_t{1} << bits) < keys && bits < kMaxSlotBits) ++bits;
        shift_ = 64 - bits;
        head_.assign(std::size_t{1} << bits, kNone);
        next_.resize(keys);
        for (std::size_t o = keys; o-- > 0;) {
            const std::uint32_t slot = Slot(Key(old.data() + o));
            next_[o] = head_[slot];
            head_[slot] = static_cast<std::uint32_t>(o);
        }
    }

    std::uint32_t First(const std::uint8_t* p) const {
        return head_.empty() ? kNone : head_[Slot(Key(p))];
    }

    std::uint32_t Next(std::uint32_t offset) const { return next_[offset]; }

  private:
    std::uint32_t Slot(std::uint64_t key) const {
        return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    int shift_ = 64;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> next_;
};

std::uint64_t Distance(std::int64_t a, std::int64_t b) {
    return static_cast<std::uint64_t>(a > b ? a - b : b - a);
}

}  // namespace

std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            // Byte order of the loads decides which end of the XOR is first.
            const std::uint64_t d = x ^ y;
            if constexpr (std::endian::native == std::endian::little) {
                return i + static_cast<std::size_t>(std::countr_zero(d) / 8);
            } else {
                return i + static_cast<std::size_t>(std::countl_zero(d) / 8);
            }
        }
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

MatchTable MatchTable::Find(ByteSpan old, ByteSpan neu, const MatchOptions& options) {
    MatchTable table;
    const std::size_t n = neu.size();
    table.size_ = n;
    if (n == 0 || old.empty()) return table;
    std::vector<Segment>& segments = table.segments_;

    const OldIndex index(old);
    const int maxCandidates = std::max(1, options.maxCandidates);
    std::vector<std::uint32_t> wide;  // units whose starts need searches of their own
    std::uint32_t widest = 0;
    for (std::uint32_t u : options.units) {
        if (u > options.researchBelow) wide.push_back(u);
        widest = std::max(widest, u);
    }
    std::size_t source = 0;  // the current match: old offset and length
    std::size_t length = 0;
    std::int64_t displacement = 0;  // of the last match: old offset - new position
    for (std::size_t i = 0; i < n; ++i) {
        if (length > 0) {
            ++source;
            --length;
        }
        const std::size_t carriedSource = source, carriedLength = length;

        bool search = length < options.researchBelow;
        if (!search && length < widest) {
            for (std::uint32_t u : wide) search = search || (length < u && i % u == 0);
        }
        if (search) {
            const std::uint8_t* target = neu.data() + i;
            const std::int64_t wanted = static_cast<std::int64_t>(i) + displacement;
            auto consider = [&](std::size_t from) {
                const std::size_t reach = std::min(n - i, old.size() - from);
                if (reach < length) return;
                const bool nearer = Distance(static_cast<std::int64_t>(from), wanted) <
                                    Distance(static_cast<std::int64_t>(source), wanted);
                // A farther candidate wins only by being longer, so it must
                // match the byte where the best one so far stops: a cheap test.
                if (!nearer && (reach == length || old[from + length] != target[length])) return;
                const std::size_t got = CommonPrefix(old.data() + from, target, reach);
                if (got > length || (got == length && got > 0 && nearer)) {
                    source = from;
                    length = got;
                }
            };
            if (wanted >= 0 && static_cast<std::size_t>(wanted) < old.size()) {
                consider(static_cast<std::size_t>(wanted));
            }
            if (n - i >= kKeyBytes) {
                int seen = 0;
                for (std::uint32_t o = index.First(target); o != kNone && seen < maxCandidates;
                     o = index.Next(o), ++seen) {
                    consider(o);
                }
            }
        }
        if (length == 0) continue;
        displacement = static_cast<std::int64_t>(source) - static_cast<std::int64_t>(i);
        if (source == carriedSource && length == carriedLength) continue;

        // A new match. It may have begun earlier, at positions that hold a
        // shorter one or none; it takes them over (reach stays non-decreasing:
        // each position taken over gets the reach of position i, which is at
        // least its own).
        std::size_t start = i, from = source;
        std::size_t k = segments.size();  // the last segment that starts before `start`, + 1
        auto lengthAt = [&](std::size_t p) -> std::size_t {
            while (k > 0 && segments[k - 1].start > p) --k;
            return k == 0 ? 0 : Within(segments[k - 1], p).length;
        };
        while (start > 0 && from > 0 && old[from - 1] == neu[start - 1] &&
               lengthAt(start - 1) < length + (i - start) + 1) {
            --start;
            --from;
        }
        while (!segments.empty() && segments.back().start >= start) segments.pop_back();
        segments.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(from),
                            static_cast<std::uint32_t>(length + (i - start))});
    }
    return table;
}

MatchTable::Match MatchTable::Within(const Segment& s, std::size_t i) {
    const std::size_t d = i - s.start;
    if (d >= s.length) return {};
    return {static_cast<std::uint32_t>(s.length - d), static_cast<std::uint32_t>(s.source + d)};
}

MatchTable::Match MatchTable::At(std::size_t i) const {
    // The last segment that starts at or before i.
    auto after = std::upper_bound(segments_.begin(), segments_.end(), i,
                                  [](std::size_t p, const Segment& s) { return p < s.start; });
    if (after == segments_.begin()) return {};
    return Within(*(after - 1), i);
}

MatchTable::Match MatchTable::Reader::At(std::size_t i) {
    const std::vector<Segment>& segments = table_.segments_;
    while (next_ < segments.size() && segments[next_].start <= i) ++next_;
    if (next_ == 0) return {};
    return Within(segments[next_ - 1], i);
}

}  // namespace morivane
