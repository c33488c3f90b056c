#include "tools/sabunn/hf_describe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/hf.h"
#include "tools/encode/payload.h"

namespace morivane {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Append32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A container of three blocks: "xyz" stored, an empty stored block, and
// "abba" coded with the one-bit codes a = 0, b = 1.
Bytes ThreeBlockContainer() {
    Bytes c;
    Append32(c, 309);
    Append32(c, 7);
    c.push_back('H');
    c.push_back('F');
    c.resize(24, 0);
    Append32(c, 0);  // stored, at 24
    Append32(c, 3);
    for (char ch : std::string("xyz")) c.push_back(static_cast<std::uint8_t>(ch));
    Append32(c, 0);  // empty, at 35
    Append32(c, 0);
    Append32(c, 4);  // coded, at 43: B = 4 bits, N = 4 bytes
    Append32(c, 4);
    Bytes lengths(256, 0);
    lengths['a'] = 1;
    lengths['b'] = 1;
    c.insert(c.end(), lengths.begin(), lengths.end());
    c.push_back(0x40);  // code table: a = 0, b = 1
    c.push_back(0x60);  // data: 0 1 1 0
    return c;
}

TEST(HfDescribeTest, FiguresOfEveryBlock) {
    const Bytes c = ThreeBlockContainer();
    ASSERT_EQ(c.size(), 309u);
    // The decoder agrees with what the container was meant to hold.
    const ByteBuffer unpacked = HfUnpack(c);
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(std::string(unpacked.data(), unpacked.data() + unpacked.size()), "xyzabba");

    const HfDescription d = HfDescribe(c);
    EXPECT_TRUE(d.container);
    EXPECT_EQ(d.problem, nullptr);
    EXPECT_EQ(d.declaredSize, 309u);
    EXPECT_EQ(d.unpackedSize, 7u);
    EXPECT_EQ(d.bytesUsed, 309u);
    ASSERT_EQ(d.blocks.size(), 3u);

    EXPECT_EQ(d.blocks[0].offset, 24u);
    EXPECT_FALSE(d.blocks[0].coded);
    EXPECT_EQ(d.blocks[0].produced, 3u);
    EXPECT_EQ(d.blocks[0].blockBytes, 11u);

    EXPECT_EQ(d.blocks[1].offset, 35u);
    EXPECT_EQ(d.blocks[1].produced, 0u);
    EXPECT_EQ(d.blocks[1].blockBytes, 8u);

    const HfBlockInfo& coded = d.blocks[2];
    EXPECT_EQ(coded.offset, 43u);
    EXPECT_TRUE(coded.coded);
    EXPECT_EQ(coded.bits, 4u);
    EXPECT_EQ(coded.produced, 4u);
    EXPECT_EQ(coded.codeBits, 2u);
    EXPECT_EQ(coded.tableBytes, 1u);
    EXPECT_EQ(coded.dataBytes, 1u);
    EXPECT_EQ(coded.symbols, 2);
    EXPECT_EQ(coded.shortestCode, 1);
    EXPECT_EQ(coded.longestCode, 1);
    EXPECT_EQ(coded.blockBytes, 266u);
}

TEST(HfDescribeTest, ProblemsStopTheWalk) {
    Bytes c = ThreeBlockContainer();
    c.pop_back();  // the coded data is one byte short
    HfDescription d = HfDescribe(c);
    EXPECT_NE(d.problem, nullptr);
    EXPECT_EQ(d.blocks.size(), 2u);

    c = ThreeBlockContainer();
    c[4] = 2;  // unpacked size 2: the first block overshoots
    d = HfDescribe(c);
    EXPECT_NE(d.problem, nullptr);

    c = ThreeBlockContainer();
    c[4] = 3;  // unpacked size 3: the first block is the last one read
    d = HfDescribe(c);
    EXPECT_EQ(d.problem, nullptr);
    EXPECT_EQ(d.blocks.size(), 1u);
    EXPECT_EQ(d.bytesUsed, 35u);

    d = HfDescribe(Bytes(30, 0));
    EXPECT_FALSE(d.container);
    EXPECT_NE(d.problem, nullptr);
}

TEST(HfDescribeTest, PackedPayloadIsDescribedWhole) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += static_cast<char>("SABUNN script "[i % 14] + i / 700);
    const Bytes packed =
        PackPayload(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    ASSERT_FALSE(packed.empty());
    const HfDescription d = HfDescribe(packed);
    ASSERT_EQ(d.problem, nullptr);
    EXPECT_EQ(d.bytesUsed, packed.size());
    EXPECT_EQ(d.declaredSize, packed.size());
    std::uint64_t produced = 0;
    for (const HfBlockInfo& b : d.blocks) produced += b.produced;
    EXPECT_EQ(produced, d.unpackedSize);
    EXPECT_EQ(static_cast<std::int64_t>(d.unpackedSize), HfUnpackedSize(packed));
}

}  // namespace
}  // namespace morivane
