#include "tools/encode/hf_encode.h"

#include <gtest/gtest.h>

#include <numeric>

#include "decode/hf.h"
#include "tests/support/seeded_content.h"

namespace morivane {
namespace {

using testdata::Bytes;

// A block as found by walking the container's headers.
struct BlockInfo {
    std::uint32_t bits;      // B
    std::uint32_t produced;  // N
    std::size_t size;        // bytes the block takes
    std::array<std::uint8_t, 256> lengths{};
};

// Walks the block headers from offset 24 until the unpacked size is reached.
// Fails the test when a block runs past the container or bytes are left over.
std::vector<BlockInfo> Blocks(const Bytes& c) {
    std::vector<BlockInfo> blocks;
    EXPECT_GE(c.size(), 24u);
    if (c.size() < 24) return blocks;
    const std::uint64_t unpacked = LoadLe32(c.data() + 4);
    std::size_t at = 24;
    std::uint64_t total = 0;
    do {
        if (c.size() - at < 8) {
            ADD_FAILURE() << "block header past the end";
            return blocks;
        }
        BlockInfo b{LoadLe32(c.data() + at), LoadLe32(c.data() + at + 4), 8, {}};
        if (b.bits == 0) {
            b.size += b.produced;
        } else {
            std::copy_n(c.begin() + at + 8, 256, b.lengths.begin());
            const unsigned s = std::accumulate(b.lengths.begin(), b.lengths.end(), 0u);
            b.size += 256 + (s + 7) / 8 + (b.bits + 7ull) / 8;
        }
        at += b.size;
        total += b.produced;
        blocks.push_back(b);
    } while (total < unpacked && at <= c.size());
    EXPECT_EQ(at, c.size()) << "container size disagrees with its blocks";
    EXPECT_EQ(total, unpacked);
    return blocks;
}

Bytes Unpack(const Bytes& container) {
    DecodeStatus status = DecodeStatus::Ok;
    const ByteBuffer out = HfUnpack(container, &status);
    EXPECT_TRUE(out) << DecodeStatusName(status);
    return Bytes(out.span().begin(), out.span().end());
}

void ExpectHeader(const Bytes& c, std::size_t unpacked) {
    ASSERT_GE(c.size(), 24u);
    EXPECT_EQ(LoadLe32(c.data()), c.size());
    EXPECT_EQ(LoadLe32(c.data() + 4), unpacked);
    EXPECT_EQ(c[8], 'H');
    EXPECT_EQ(c[9], 'F');
    for (int i = 10; i < 24; ++i) EXPECT_EQ(c[i], 0) << i;
}

// Kraft sum of a set of code lengths, scaled by 2^40 (a code longer than 40
// bits counts as nothing, which no complete code survives).
std::uint64_t Kraft(const std::array<std::uint8_t, 256>& lengths) {
    std::uint64_t sum = 0;
    for (auto l : lengths) {
        if (l > 0 && l <= 40) sum += 1ull << (40 - l);
    }
    return sum;
}
constexpr std::uint64_t kKraftOne = 1ull << 40;

TEST(HfPack, RoundTripsEverySampleInEveryMode) {
    for (const auto& [name, data] : testdata::Samples()) {
        for (HfBlockMode mode : {HfBlockMode::Smaller, HfBlockMode::Stored, HfBlockMode::Coded}) {
            SCOPED_TRACE(name + " mode " + std::to_string(static_cast<int>(mode)));
            const Bytes c = HfPack(data, {.mode = mode});
            ExpectHeader(c, data.size());
            const auto blocks = Blocks(c);
            ASSERT_EQ(blocks.size(), 1u);
            if (mode != HfBlockMode::Smaller) {
                EXPECT_EQ(blocks[0].bits == 0, mode == HfBlockMode::Stored || data.empty());
            }
            EXPECT_EQ(Unpack(c), data);
        }
    }
}

TEST(HfPack, PicksTheSmallerOfStoredAndCoded) {
    // Around the break-even of a single-valued block (1 bit a byte plus 265
    // bytes of tables), and for text, random and all-values data, the default
    // choice must be exactly the smaller of the two forced forms.
    std::vector<Bytes> inputs = {testdata::Text(5000), testdata::Random(5000),
                                 testdata::AllValues(4), testdata::MachineCode(800)};
    for (std::size_t n = 280; n <= 320; ++n) inputs.push_back(Bytes(n, 0x5A));
    int codedWins = 0, storedWins = 0;
    for (const Bytes& data : inputs) {
        SCOPED_TRACE(data.size());
        const Bytes stored = HfPack(data, {.mode = HfBlockMode::Stored});
        const Bytes coded = HfPack(data, {.mode = HfBlockMode::Coded});
        const Bytes chosen = HfPack(data);
        EXPECT_EQ(chosen, coded.size() < stored.size() ? coded : stored);
        (coded.size() < stored.size() ? codedWins : storedWins)++;
    }
    // The sweep crosses the break-even, so both outcomes occur.
    EXPECT_GT(codedWins, 2);
    EXPECT_GT(storedWins, 2);
    // Random bytes cost about 8 bits each plus tables: stored.
    EXPECT_EQ(Blocks(HfPack(testdata::Random(5000)))[0].bits, 0u);
    EXPECT_GT(Blocks(HfPack(testdata::Text(5000)))[0].bits, 0u);
}

TEST(HfPack, SingleValuedBlockGetsAOneBitCode) {
    const Bytes data(10000, 0xC3);
    const Bytes c = HfPack(data);
    const auto blocks = Blocks(c);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].bits, 10000u);
    for (int s = 0; s < 256; ++s) EXPECT_EQ(blocks[0].lengths[s], s == 0xC3 ? 1 : 0) << s;
    // 24 + 8 + 256 + 1 table byte + 1250 data bytes.
    EXPECT_EQ(c.size(), 1539u);
    EXPECT_EQ(Unpack(c), data);
}

TEST(HfPack, SplitsIntoBlocksThatChooseIndependently) {
    // Blocks of 1000: two of text (a few bits a byte: coded), two of random
    // bytes (tables plus about 8 bits a byte: stored), one and a half of zeros
    // (1 bit a byte: coded).
    Bytes data = testdata::Text(2000);
    const Bytes random = testdata::Random(2000);
    data.insert(data.end(), random.begin(), random.end());
    data.insert(data.end(), 1500, 0x00);
    const Bytes c = HfPack(data, {.blockSize = 1000});
    ExpectHeader(c, data.size());
    const auto blocks = Blocks(c);
    ASSERT_EQ(blocks.size(), 6u);
    const std::uint32_t sizes[] = {1000, 1000, 1000, 1000, 1000, 500};
    const bool stored[] = {false, false, true, true, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(blocks[i].produced, sizes[i]) << i;
        EXPECT_EQ(blocks[i].bits == 0, stored[i]) << i;
    }
    EXPECT_EQ(blocks[5].bits, 500u);
    EXPECT_EQ(Unpack(c), data);
    // The accounting view of each block is the code the container carries
    // (no code at all for a stored block).
    for (int i = 0; i < 6; ++i) {
        const ByteSpan block = ByteSpan(data).subspan(1000 * static_cast<std::size_t>(i), sizes[i]);
        EXPECT_EQ(HfBlockCodeLengths(block), blocks[i].lengths) << i;
    }
}

TEST(HfPack, EmptyDataIsOneEmptyStoredBlock) {
    for (HfBlockMode mode : {HfBlockMode::Smaller, HfBlockMode::Coded}) {
        const Bytes c = HfPack({}, {.mode = mode});
        ExpectHeader(c, 0);
        EXPECT_EQ(c.size(), 32u);
        EXPECT_EQ(LoadLe32(c.data() + 24), 0u);
        EXPECT_EQ(LoadLe32(c.data() + 28), 0u);
        const ByteBuffer out = HfUnpack(c);
        EXPECT_TRUE(out);
        EXPECT_EQ(out.size(), 0);
    }
}

TEST(HfCodeLengths, FormsCompletePrefixCodes) {
    std::array<std::uint64_t, 256> counts{};
    EXPECT_EQ(Kraft(HfCodeLengths(counts)), 0u);

    // Counts 1, 1, 2, 4: the two rarest merge first, giving depths 3, 3, 2, 1.
    counts[10] = 1, counts[20] = 1, counts[30] = 2, counts[40] = 4;
    const auto small = HfCodeLengths(counts);
    EXPECT_EQ(small[10], 3);
    EXPECT_EQ(small[20], 3);
    EXPECT_EQ(small[30], 2);
    EXPECT_EQ(small[40], 1);
    EXPECT_EQ(Kraft(small), kKraftOne);

    testdata::Rng rng(9);
    for (int round = 0; round < 50; ++round) {
        counts.fill(0);
        const int present = 2 + rng.Below(255);
        for (int i = 0; i < present; ++i) counts[rng.Below(256)] = 1 + rng.Below(100000);
        const auto lengths = HfCodeLengths(counts);
        EXPECT_EQ(Kraft(lengths), kKraftOne) << round;
        for (int s = 0; s < 256; ++s) EXPECT_EQ(lengths[s] > 0, counts[s] > 0);
    }
}

TEST(HfPack, LimitsCodeLengthsOnSkewedData) {
    // Fibonacci counts make plain Huffman codes one bit longer per value:
    // 30 values would need 29 bits.
    Bytes data;
    std::uint64_t a = 1, b = 1;
    for (int v = 0; v < 30; ++v) {
        data.insert(data.end(), a, static_cast<std::uint8_t>(v));
        a = std::exchange(b, a + b);
    }
    const Bytes c = HfPack(data);
    const auto blocks = Blocks(c);
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_GT(blocks[0].bits, 0u);
    const auto& lengths = blocks[0].lengths;
    EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), kHfMaxCodeLength);
    EXPECT_EQ(Kraft(lengths), kKraftOne);
    EXPECT_EQ(Unpack(c), data);
}

// Text, random bytes, a single value and text of another vocabulary, 30,000
// bytes each: three changes of statistics that a split has to find.
Bytes Patchwork() {
    Bytes data = testdata::Text(30000, 1);
    for (const Bytes& part :
         {testdata::Random(30000), Bytes(30000, 0x00), testdata::MachineCode(30000)}) {
        data.insert(data.end(), part.begin(), part.end());
    }
    return data;
}

// Checks that `lengths` is a split HfPackBlocks takes for `data`, packs it and
// unpacks it again; returns the container.
Bytes PackSplit(const Bytes& data, const std::vector<std::uint32_t>& lengths, HfBlockMode mode) {
    EXPECT_FALSE(lengths.empty());
    std::uint64_t total = 0;
    for (std::uint32_t n : lengths) {
        EXPECT_TRUE(n > 0 || data.empty());
        EXPECT_LE(n, kHfMaxBlockSize);
        total += n;
    }
    EXPECT_EQ(total, data.size());
    const Bytes c = HfPackBlocks(data, lengths, mode);
    ExpectHeader(c, data.size());
    const auto blocks = Blocks(c);
    EXPECT_EQ(blocks.size(), lengths.size());
    for (std::size_t i = 0; i < blocks.size() && i < lengths.size(); ++i) {
        EXPECT_EQ(blocks[i].produced, lengths[i]) << i;
    }
    EXPECT_EQ(Unpack(c), data);
    return c;
}

TEST(HfSplitBlocks, RoundTripsAndNeverLosesToOneBlock) {
    std::vector<testdata::Sample> samples = testdata::Samples();
    samples.push_back({"Patchwork", Patchwork()});
    for (const auto& [name, data] : samples) {
        for (HfBlockMode mode : {HfBlockMode::Smaller, HfBlockMode::Stored, HfBlockMode::Coded}) {
            SCOPED_TRACE(name + " mode " + std::to_string(static_cast<int>(mode)));
            const Bytes c = PackSplit(data, HfSplitBlocks(data, mode), mode);
            EXPECT_LE(c.size(), HfPack(data, {.mode = mode}).size());
            // The same through HfPack's own option.
            EXPECT_EQ(HfPack(data, {.mode = mode, .split = HfSplit::Search}), c);
            for (const BlockInfo& b : Blocks(c)) {
                if (mode == HfBlockMode::Stored) {
                    EXPECT_EQ(b.bits, 0u);
                } else if (mode == HfBlockMode::Coded && !data.empty()) {
                    EXPECT_GT(b.bits, 0u);
                }
            }
        }
    }
}

TEST(HfSplitBlocks, FollowsChangesOfStatistics) {
    const Bytes data = Patchwork();
    const std::vector<std::uint32_t> lengths = HfSplitBlocks(data);
    const Bytes c = PackSplit(data, lengths, HfBlockMode::Smaller);
    // Four stretches of 30,000 bytes: text coded, random stored, zeros at 1
    // bit a byte, machine code coded. Each boundary is found to within the
    // search's finest step, give or take what the neighbours' codes absorb.
    const auto blocks = Blocks(c);
    ASSERT_EQ(blocks.size(), 4u);
    std::uint64_t end = 0;
    for (int i = 0; i < 3; ++i) {
        end += blocks[i].produced;
        EXPECT_NEAR(static_cast<double>(end), 30000.0 * (i + 1), 256.0) << i;
    }
    EXPECT_GT(blocks[0].bits, 0u);
    EXPECT_EQ(blocks[1].bits, 0u);
    EXPECT_NEAR(blocks[2].bits, 30000.0, 512.0);
    EXPECT_GT(blocks[3].bits, 0u);

    // Smaller than one block and than every fixed grid of block sizes.
    EXPECT_LT(c.size(), HfPack(data).size());
    for (std::uint32_t size : {1024u, 4096u, 10000u, 16384u, 30000u, 65536u}) {
        EXPECT_LT(c.size(), HfPack(data, {.blockSize = size}).size()) << size;
    }
}

TEST(HfSplitBlocks, KeepsHomogeneousDataInOneBlock) {
    // A new table costs at least 264 bytes; uniform statistics never repay it.
    for (const Bytes& data :
         {testdata::Random(200000), testdata::Text(200000, 3), testdata::AllValues(800)}) {
        const auto lengths = HfSplitBlocks(data);
        EXPECT_EQ(lengths, std::vector<std::uint32_t>{static_cast<std::uint32_t>(data.size())});
    }
    EXPECT_EQ(HfSplitBlocks({}), std::vector<std::uint32_t>{0});
}

TEST(HfPackBlocks, RefusesLengthsThatDoNotCoverTheData) {
    const Bytes data = testdata::Text(1000);
    const std::vector<std::vector<std::uint32_t>> bad = {{},        {999},    {1001}, {500, 0, 500},
                                                         {0, 1000}, {1000, 0}};
    for (const auto& lengths : bad) {
        EXPECT_TRUE(HfPackBlocks(data, lengths).empty()) << lengths.size();
    }
    EXPECT_TRUE(HfPackBlocks({}, std::vector<std::uint32_t>{}).empty());
    EXPECT_TRUE(HfPackBlocks({}, std::vector<std::uint32_t>{1}).empty());
    // Valid: any cut, including one-byte blocks, and {0} for empty data.
    PackSplit(data, {1, 998, 1}, HfBlockMode::Smaller);
    PackSplit(data, {300, 700}, HfBlockMode::Coded);
    PackSplit({}, {0}, HfBlockMode::Smaller);
}

}  // namespace
}  // namespace morivane
