#include "tools/encode/lzss_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "decode/lzss.h"
#include "tests/support/seeded_content.h"

namespace morivane {
namespace {

using testdata::Bytes;

// An independent reader of the stream format that checks every rule the
// expander relies on and reports what the stream used. It keeps the whole
// output and turns each window position back into a distance instead of
// keeping a window.
struct StreamReport {
    std::string error;  // empty: the stream is well formed
    Bytes content;      // everything produced except the tail byte
    std::uint8_t tail = 0xFF;
    std::size_t matches = 0;
    std::size_t overlapping = 0;  // matches reaching into their own output
    std::size_t maxDistance = 0;
    std::array<std::size_t, 18> byLength{};
};

StreamReport ReadStream(const Bytes& stream) {
    StreamReport r;
    std::size_t bit = 0;
    auto take = [&](int n, std::uint32_t* v) {
        *v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            if (bit / 8 >= stream.size()) return false;
            *v = *v << 1 | ((stream[bit / 8] >> (7 - bit % 8)) & 1);
        }
        return true;
    };
    Bytes out;
    for (;;) {
        std::uint32_t flag, value;
        if (!take(1, &flag)) return r.error = "truncated before End", r;
        if (flag == 1) {
            if (!take(8, &value)) return r.error = "truncated literal", r;
            out.push_back(static_cast<std::uint8_t>(value));
            continue;
        }
        if (!take(12, &value)) return r.error = "truncated match", r;
        if (value == 0) break;
        std::uint32_t code;
        if (!take(4, &code)) return r.error = "truncated length", r;
        // Produced byte j sits at window index (1 + j) mod 4096, so position p
        // at output index k names j = k - d with d in 1..4096.
        const std::size_t k = out.size();
        std::size_t d = (k + 1 + 4096 - value) % 4096;
        if (d == 0) d = 4096;
        if (d > k) return r.error = "match copies an unwritten position at " + std::to_string(k), r;
        const std::size_t length = code + 2;
        for (std::size_t i = 0; i < length; ++i) out.push_back(out[k - d + i]);
        ++r.matches;
        ++r.byLength[length];
        if (d < length) ++r.overlapping;
        r.maxDistance = std::max(r.maxDistance, d);
    }
    // End must be the last token, in the last byte, followed by zero bits.
    if ((bit + 7) / 8 != stream.size()) return r.error = "bytes after the End token", r;
    for (; bit % 8 != 0; ++bit) {
        if ((stream[bit / 8] >> (7 - bit % 8)) & 1) return r.error = "non-zero padding", r;
    }
    if (out.empty()) return r.error = "no tail byte", r;
    r.tail = out.back();
    out.pop_back();
    r.content = std::move(out);
    return r;
}

// The true minimum in bits for `content` (End included), by exhaustive match
// search and a shortest-path pass; with `greedy`, the size that always taking
// the longest match gives.
std::uint64_t BruteForceBits(const Bytes& content, bool greedy) {
    Bytes text = content;
    text.push_back(0);
    const std::size_t n = text.size();
    std::vector<std::size_t> longest(n, 0);
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t j = k >= 4096 ? k - 4096 : 0; j < k; ++j) {
            if ((j + 1) % 4096 == 0) continue;
            std::size_t l = 0;
            while (l < 17 && k + l < n && text[j + l] == text[k + l]) ++l;
            if (l >= 2) longest[k] = std::max(longest[k], l);
        }
    }
    if (greedy) {
        std::uint64_t bits = 13;
        for (std::size_t k = 0; k < n;) {
            bits += longest[k] >= 2 ? 17 : 9;
            k += longest[k] >= 2 ? longest[k] : 1;
        }
        return bits;
    }
    std::vector<std::uint64_t> cost(n + 1, 0);
    for (std::size_t k = n; k-- > 0;) {
        cost[k] = 9 + cost[k + 1];
        for (std::size_t l = 2; l <= longest[k]; ++l) cost[k] = std::min(cost[k], 17 + cost[k + l]);
    }
    return cost[0] + 13;
}

class LzssRoundTrip : public testing::TestWithParam<testdata::Sample> {};

TEST_P(LzssRoundTrip, BothParsesFollowTheRulesAndExpandBack) {
    const Bytes& content = GetParam().data;
    std::uint64_t greedyBits = 0;
    for (LzssParse parse : {LzssParse::Greedy, LzssParse::Optimal}) {
        SCOPED_TRACE(parse == LzssParse::Greedy ? "greedy" : "optimal");
        LzssEncodeStats stats;
        const Bytes stream = LzssCompress(content, {.parse = parse}, &stats);

        const StreamReport report = ReadStream(stream);
        ASSERT_EQ(report.error, "");
        EXPECT_EQ(report.tail, 0x00);
        EXPECT_EQ(report.content, content);
        EXPECT_LE(report.maxDistance, 4096u);
        EXPECT_EQ(report.matches, stats.matches);
        EXPECT_EQ(stats.bits, 9 * stats.literals + 17 * stats.matches + 13);
        EXPECT_EQ((stats.bits + 7) / 8, stream.size());

        DecodeStatus status = DecodeStatus::OutOfMemory;
        const ByteBuffer expanded = LzssExpand(stream, &status);
        ASSERT_TRUE(expanded) << DecodeStatusName(status);
        EXPECT_EQ(status, DecodeStatus::Ok);
        EXPECT_EQ(Bytes(expanded.span().begin(), expanded.span().end()), content);

        if (parse == LzssParse::Greedy) {
            greedyBits = stats.bits;
        } else {
            EXPECT_LE(stats.bits, greedyBits);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, LzssRoundTrip, testing::ValuesIn(testdata::Samples()),
                         [](const auto& info) { return info.param.name; });

TEST(LzssCompress, PartBitsAreTheBitsOfEachPartsTokens) {
    // 0, 1, ..., 255: no two-byte string repeats, so every byte is a 9-bit
    // literal, and so is the tail byte 0x00 (after 0xFF).
    Bytes content(256);
    for (int v = 0; v < 256; ++v) content[v] = static_cast<std::uint8_t>(v);
    const std::size_t ends[] = {100, 250};
    LzssEncodeStats stats;
    const Bytes stream = LzssCompress(content, {.partEnds = ends}, &stats);
    EXPECT_EQ(stream, LzssCompress(content));
    EXPECT_EQ(stats.partBits, (std::vector<std::uint64_t>{100 * 9, 150 * 9}));
    EXPECT_EQ(stats.bits, 257u * 9 + 13);  // the rest: 6 bytes, the tail byte, End
}

TEST(LzssCompress, EmptyContentIsTailByteAndEnd) {
    // Literal 0x00 (1 00000000), End (0 000000000000), two padding bits.
    EXPECT_EQ(LzssCompress({}), (Bytes{0x80, 0x00, 0x00}));
    const ByteBuffer expanded = LzssExpand(LzssCompress({}));
    EXPECT_TRUE(expanded);
    EXPECT_EQ(expanded.size(), 0);
}

TEST(LzssCompress, UsesEveryLengthOverlapsAndTheFullWindow) {
    Bytes content = testdata::MachineCode(60000);
    const Bytes far = testdata::Period4096(12000);
    content.insert(content.end(), far.begin(), far.end());
    const StreamReport report = ReadStream(LzssCompress(content));
    ASSERT_EQ(report.error, "");
    for (int length = 2; length <= 17; ++length) EXPECT_GT(report.byLength[length], 0u) << length;
    EXPECT_GT(report.overlapping, 0u);
    EXPECT_EQ(report.maxDistance, 4096u);
}

TEST(LzssCompress, ExhaustiveSearchMatchesTheBruteForceSizes) {
    // With the chains searched to the end of the window, both parses must
    // reach exactly the sizes an exhaustive search gives.
    const std::vector<Bytes> inputs = {testdata::Text(6000, 21), testdata::MachineCode(6000, 22),
                                       testdata::WindowZeroTrap(23), testdata::Runs(6000, 24)};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        LzssEncodeStats optimal, greedy;
        LzssCompress(inputs[i], {.parse = LzssParse::Optimal, .maxChainDepth = 4096}, &optimal);
        LzssCompress(inputs[i], {.parse = LzssParse::Greedy, .maxChainDepth = 4096}, &greedy);
        EXPECT_EQ(optimal.bits, BruteForceBits(inputs[i], false));
        EXPECT_EQ(greedy.bits, BruteForceBits(inputs[i], true));
    }
}

TEST(LzssCompress, NeverStartsAMatchAtWindowIndexZero) {
    // Zeros: every earlier byte is a candidate source, including each one at
    // window index 0; the trap offers a 17-byte match only from there.
    for (const Bytes& content : {Bytes(20000, 0), testdata::WindowZeroTrap()}) {
        for (int depth : {1, 8, 4096}) {
            const Bytes stream = LzssCompress(content, {.maxChainDepth = depth});
            const StreamReport report = ReadStream(stream);
            ASSERT_EQ(report.error, "");
            EXPECT_EQ(report.content, content);
        }
    }
}

}  // namespace
}  // namespace morivane
