#include "tools/encode/lzss_encode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "decode/lzss.h"
#include "tools/encode/bit_writer.h"

namespace morivane {

namespace {

constexpr std::uint32_t kWindow = kLzssWindowSize;
constexpr std::uint32_t kMaxMatch = kLzssMaxMatch;
constexpr std::uint32_t kMinMatch = kLzssMinMatch;
constexpr int kLiteralBits = 1 + 8;
constexpr int kMatchBits = 1 + kLzssPositionBits + kLzssLengthBits;

// The chains link each position to the previous one with the same key. A ring
// of twice the window keeps every link inside the search range intact: a slot
// is reused only by a position 8192 later, which is never searched before the
// older one has fallen out of the window.
constexpr std::uint32_t kRing = 2 * kWindow;
constexpr std::uint32_t kRingMask = kRing - 1;
constexpr int kHashBits = 16;
constexpr std::int32_t kNone = -1;

struct Match {
    std::uint32_t length = 0;  // 0: none; otherwise 2..17
    std::uint32_t source = 0;  // produced-byte index of the first source byte
};

// Bytes past the text's end that LzssCompress keeps readable (zero) so that
// match lengths can be measured eight bytes at a time.
constexpr std::size_t kTextPadding = 16;

// Number of equal leading bytes of a and b, at most `limit` (<= 17). Reads up
// to 7 bytes past the limit, which the padding keeps inside the text.
std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
    if constexpr (std::endian::native == std::endian::little) {
        for (std::uint32_t i = 0; i < limit; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) {
                return std::min(limit, i + static_cast<std::uint32_t>(std::countr_zero(x ^ y)) / 8);
            }
        }
        return limit;
    } else {
        std::uint32_t n = 0;
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }
}

// Finds, for a position, the longest match the expander can reproduce. The
// search runs along a chain of positions sharing a hash of their first four
// bytes; shorter matches, which that chain cannot see, come from a chain keyed
// on three bytes (hashed) and from a table of the latest position of every
// two-byte pair.
class MatchFinder {
  public:
    MatchFinder(const std::uint8_t* text, std::uint32_t size, int maxChainDepth)
        : text_(text),
          size_(size),
          depth_(std::max(1, maxChainDepth)),
          head2_(1u << 16, kNone),
          head3_(1u << kHashBits, kNone),
          head4_(1u << kHashBits, kNone),
          prev3_(kRing, kNone),
          prev4_(kRing, kNone) {}

    // Adds position k as a possible match source. Positions are added in
    // increasing order. A byte that lands on window index 0 cannot be named by
    // a match (position 0 is End), so it is never added.
    void Insert(std::uint32_t k) {
        if ((k + 1) % kWindow == 0) return;
        const auto at = static_cast<std::int32_t>(k);
        if (k + 2 <= size_) head2_[Key2(k)] = at;
        if (k + 3 <= size_) {
            const std::uint32_t h = Hash3(k);
            prev3_[k & kRingMask] = head3_[h];
            head3_[h] = at;
        }
        if (k + 4 <= size_) {
            const std::uint32_t h = Hash4(k);
            prev4_[k & kRingMask] = head4_[h];
            head4_[h] = at;
        }
    }

    // The longest match for the bytes at k among the sources added so far that
    // lie at most 4096 bytes back (within the chain depth); of equally long
    // ones the nearest.
    Match Longest(std::uint32_t k) const {
        Match best;
        const std::uint32_t limit = std::min(kMaxMatch, size_ - k);
        if (limit < kMinMatch) return best;
        const std::int64_t lowest = static_cast<std::int64_t>(k) - kWindow;
        const std::uint8_t* here = text_ + k;

        std::uint32_t bestLength = 0;
        if (limit >= 4) {
            int budget = depth_;
            for (std::int32_t j = head4_[Hash4(k)]; j != kNone && j >= lowest && budget-- > 0;
                 j = prev4_[static_cast<std::uint32_t>(j) & kRingMask]) {
                const std::uint8_t* there = text_ + j;
                // The byte just past the best so far decides most candidates.
                if (bestLength > 0 && there[bestLength] != here[bestLength]) continue;
                const std::uint32_t length = CommonLength(there, here, limit);
                if (length > bestLength) {
                    bestLength = length;
                    best = {length, static_cast<std::uint32_t>(j)};
                    if (length == limit) return best;
                }
            }
        }
        if (bestLength < 4 && limit >= 3) {
            // The nearest position with the same three bytes, past any hash
            // collisions.
            int budget = depth_;
            for (std::int32_t j = head3_[Hash3(k)]; j != kNone && j >= lowest && budget-- > 0;
                 j = prev3_[static_cast<std::uint32_t>(j) & kRingMask]) {
                const std::uint32_t length = CommonLength(text_ + j, here, limit);
                if (length >= 3) {
                    if (length > bestLength) best = {length, static_cast<std::uint32_t>(j)};
                    bestLength = std::max(bestLength, length);
                    break;
                }
            }
        }
        if (bestLength < 3) {
            const std::int32_t j = head2_[Key2(k)];
            if (j != kNone && j >= lowest) best = {kMinMatch, static_cast<std::uint32_t>(j)};
        }
        return best;
    }

  private:
    std::uint32_t Key2(std::uint32_t k) const {
        return static_cast<std::uint32_t>(text_[k]) << 8 | text_[k + 1];
    }
    std::uint32_t Hash3(std::uint32_t k) const {
        const std::uint32_t v = static_cast<std::uint32_t>(text_[k]) << 16 |
                                static_cast<std::uint32_t>(text_[k + 1]) << 8 | text_[k + 2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    std::uint32_t Hash4(std::uint32_t k) const {
        std::uint32_t v;
        std::memcpy(&v, text_ + k, 4);
        return (v * 2246822519u) >> (32 - kHashBits);
    }

    const std::uint8_t* text_;
    std::uint32_t size_;
    int depth_;
    std::vector<std::int32_t> head2_;
    std::vector<std::int32_t> head3_;
    std::vector<std::int32_t> head4_;
    std::vector<std::int32_t> prev3_;
    std::vector<std::int32_t> prev4_;
};

class TokenWriter {
  public:
    // `out` is taken over with the room reserved in it.
    TokenWriter(std::vector<std::uint8_t> out, LzssEncodeStats& stats,
                std::span<const std::size_t> partEnds)
        : bits_(std::move(out)), stats_(stats), partEnds_(partEnds) {
        stats_.partBits.assign(partEnds.size(), 0);
    }

    // The literal for content byte k.
    void Literal(std::uint32_t k, std::uint8_t value) {
        bits_.Put(1u << 8 | value, kLiteralBits);
        ++stats_.literals;
        Count(k, kLiteralBits);
    }
    // A match for the content from byte k on, of `length` bytes whose first
    // source byte is produced byte number `source`; that byte sits at window
    // index (1 + source) mod 4096.
    void Match(std::uint32_t k, std::uint32_t source, std::uint32_t length) {
        const std::uint32_t position = (source + 1) % kWindow;  // never 0: see Insert
        bits_.Put(position << kLzssLengthBits | (length - kMinMatch),
                  kMatchBits);  // flag 0 comes first as the top bit
        ++stats_.matches;
        Count(k, kMatchBits);
    }
    // The End token; returns the whole stream.
    std::vector<std::uint8_t> End() {
        bits_.Put(0, 1 + kLzssPositionBits);
        stats_.bits += 1 + kLzssPositionBits;
        return bits_.Take();
    }

  private:
    void Count(std::uint32_t k, int bits) {
        stats_.bits += static_cast<std::uint64_t>(bits);
        while (part_ < partEnds_.size() && k >= partEnds_[part_]) ++part_;
        if (part_ < partEnds_.size()) stats_.partBits[part_] += static_cast<std::uint64_t>(bits);
    }

    BitWriter bits_;
    LzssEncodeStats& stats_;
    std::span<const std::size_t> partEnds_;
    std::size_t part_ = 0;  // the part the last token started in
};

void ParseGreedy(const std::uint8_t* text, std::uint32_t size, MatchFinder& finder,
                 TokenWriter& out) {
    std::uint32_t k = 0;
    while (k < size) {
        const Match m = finder.Longest(k);
        if (m.length >= kMinMatch) {
            out.Match(k, m.source, m.length);
            for (std::uint32_t i = 0; i < m.length; ++i) finder.Insert(k + i);
            k += m.length;
        } else {
            out.Literal(k, text[k]);
            finder.Insert(k);
            ++k;
        }
    }
}

void ParseOptimal(const std::uint8_t* text, std::uint32_t size, MatchFinder& finder,
                  TokenWriter& out) {
    // Longest match at every position. Any shorter prefix of it is a match
    // from the same source, so these lengths describe every choice there is.
    std::vector<std::uint8_t> length(size);
    std::vector<std::uint32_t> source(size);
    for (std::uint32_t k = 0; k < size; ++k) {
        const Match m = finder.Longest(k);
        length[k] = static_cast<std::uint8_t>(m.length);
        source[k] = m.source;
        finder.Insert(k);
    }

    // Cheapest way to code text[k..size): cost[k] = min(9 + cost[k + 1],
    // 17 + cost[k + L]) over the lengths L available at k. Only the next 17
    // costs are ever needed, so they live in a small ring; the choice made at
    // each position overwrites its match length (0 or 1: literal).
    constexpr std::uint32_t kCostRing = 32;
    std::array<std::uint64_t, kCostRing> cost{};
    cost[size % kCostRing] = 0;
    for (std::uint32_t k = size; k-- > 0;) {
        std::uint64_t best = kLiteralBits + cost[(k + 1) % kCostRing];
        std::uint8_t choice = 1;
        for (std::uint32_t l = kMinMatch; l <= length[k]; ++l) {
            const std::uint64_t c = kMatchBits + cost[(k + l) % kCostRing];
            if (c <= best) {  // a tie goes to the longer match: fewer tokens to decode
                best = c;
                choice = static_cast<std::uint8_t>(l);
            }
        }
        cost[k % kCostRing] = best;
        length[k] = choice;
    }

    for (std::uint32_t k = 0; k < size;) {
        if (length[k] >= kMinMatch) {
            out.Match(k, source[k], length[k]);
            k += length[k];
        } else {
            out.Literal(k, text[k]);
            ++k;
        }
    }
}

}  // namespace

std::vector<std::uint8_t> LzssCompress(ByteSpan content, const LzssEncodeOptions& options,
                                       LzssEncodeStats* stats) {
    if (content.size() > kLzssMaxContent) return {};

    // The content and its tail byte are compressed as one text.
    std::vector<std::uint8_t> text;
    text.reserve(content.size() + 1 + kTextPadding);
    text.assign(content.begin(), content.end());
    text.push_back(0x00);
    const auto size = static_cast<std::uint32_t>(text.size());
    text.resize(text.size() + kTextPadding, 0);

    LzssEncodeStats counted;
    std::vector<std::uint8_t> room;
    room.reserve(text.size() / 2 + 16);
    TokenWriter writer(std::move(room), counted, options.partEnds);
    MatchFinder finder(text.data(), size, options.maxChainDepth);
    if (options.parse == LzssParse::Greedy) {
        ParseGreedy(text.data(), size, finder, writer);
    } else {
        ParseOptimal(text.data(), size, finder, writer);
    }
    std::vector<std::uint8_t> out = writer.End();
    if (stats != nullptr) *stats = counted;
    return out;
}

}  // namespace morivane
