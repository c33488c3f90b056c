#include "decode/hf.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/support/bit_writer.h"

namespace morivane {
namespace {

using testing::BitStream;
using testing::ContainerBuilder;
using Bytes = std::vector<std::uint8_t>;
using Code = ContainerBuilder::Code;

Bytes Unpack(const Bytes& container, DecodeStatus* status = nullptr) {
    ByteBuffer out = HfUnpack(container, status);
    if (!out) return Bytes{0xEE, 0xEE, 0xEE};
    return Bytes(out.data(), out.data() + out.size());
}

DecodeStatus Failure(const Bytes& container) {
    DecodeStatus status = DecodeStatus::Ok;
    ByteBuffer out = HfUnpack(container, &status);
    EXPECT_FALSE(out);
    return status;
}

// A small complete code: a = 0, b = 10, c = 11.
std::vector<Code> AbcCode() {
    std::vector<Code> codes(256);
    codes['a'] = {1, 0b0};
    codes['b'] = {2, 0b10};
    codes['c'] = {2, 0b11};
    return codes;
}

TEST(HfMagic, OnlyBytesEightAndNineCount) {
    Bytes data(24, 0xAB);
    data[8] = 'H';
    data[9] = 'F';
    EXPECT_TRUE(IsHfContainer(data));
    data[4] = 0x10, data[5] = data[6] = data[7] = 0;
    EXPECT_EQ(HfUnpackedSize(data), 0x10);
    // A plain script's run count low word sits there: 1c 00 and 02 00 are no magic.
    data[8] = 0x1C, data[9] = 0x00;
    EXPECT_FALSE(IsHfContainer(data));
    EXPECT_EQ(HfUnpackedSize(data), -1);
    EXPECT_FALSE(IsHfContainer(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 'H'}));
}

TEST(HfUnpack, StoredEmptyAndCodedBlocksFollowEachOther) {
    ContainerBuilder c(3 + 5 + 4);
    c.Stored({1, 2, 3}).Stored({}).Coded(AbcCode(), {'a', 'b', 'c', 'a', 'a'}).Stored({9, 8, 7, 6});
    EXPECT_EQ(Unpack(c.bytes()), (Bytes{1, 2, 3, 'a', 'b', 'c', 'a', 'a', 9, 8, 7, 6}));
}

TEST(HfUnpack, StopsAtTheBlockThatCompletesTheSizeWhateverFollows) {
    ContainerBuilder c(4);
    c.Stored({1, 2}).Stored({3, 4}).Raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Unpack(c.bytes()), (Bytes{1, 2, 3, 4}));
}

TEST(HfUnpack, IgnoresHeaderBytesZeroToThreeAndTenToTwentyThree) {
    ContainerBuilder c(5);
    c.Coded(AbcCode(), {'c', 'b', 'a', 'b', 'c'});
    Bytes container = c.bytes();
    const Bytes expected = Unpack(container);
    for (int i : {0, 1, 2, 3, 10, 15, 23}) container[i] = 0x5A;
    EXPECT_EQ(Unpack(container), expected);
    EXPECT_EQ(expected, (Bytes{'c', 'b', 'a', 'b', 'c'}));
}

TEST(HfUnpack, SingleValueWithAOneBitCode) {
    std::vector<Code> codes(256);
    codes[0x42] = {1, 1};
    ContainerBuilder c(9);
    c.Coded(codes, Bytes(9, 0x42));
    EXPECT_EQ(Unpack(c.bytes()), Bytes(9, 0x42));
}

TEST(HfUnpack, AllByteValuesWithEightBitCodes) {
    std::vector<Code> codes(256);
    Bytes data;
    for (int s = 0; s < 256; ++s) {
        codes[s] = {8, static_cast<std::uint32_t>(255 - s)};
        data.push_back(static_cast<std::uint8_t>(s));
    }
    ContainerBuilder c(256);
    c.Coded(codes, data);
    EXPECT_EQ(Unpack(c.bytes()), data);
}

TEST(HfUnpack, EmptyUnpackedSizeStillReadsOneBlock) {
    ContainerBuilder c(0);
    EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfBlockPastEnd);
    c.Stored({});
    DecodeStatus status = DecodeStatus::HfOvershoot;
    ByteBuffer out = HfUnpack(c.bytes(), &status);
    EXPECT_TRUE(out);
    EXPECT_EQ(out.size(), 0);
    EXPECT_EQ(status, DecodeStatus::Ok);
}

TEST(HfUnpack, RejectsBlocksThatReachPastTheContainer) {
    {
        ContainerBuilder c(10);
        c.Stored({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        Bytes cut = c.bytes();
        cut.pop_back();
        EXPECT_EQ(Failure(cut), DecodeStatus::HfBlockPastEnd) << "stored data";
    }
    {
        ContainerBuilder c(5);
        c.Coded(AbcCode(), {'a', 'b', 'c', 'a', 'b'});
        const Bytes whole = c.bytes();
        ASSERT_EQ(Unpack(whole).size(), 5u);
        // Cut anywhere inside the block: header, code lengths, table or data.
        // (With no block byte at all the size itself is impossible.)
        EXPECT_EQ(Failure(Bytes(whole.begin(), whole.begin() + 24)),
                  DecodeStatus::HfImpossibleSize);
        for (std::size_t size = 25; size < whole.size(); ++size) {
            const Bytes cut(whole.begin(), whole.begin() + size);
            EXPECT_EQ(Failure(cut), DecodeStatus::HfBlockPastEnd) << "cut at " << size;
        }
    }
}

// Every block's place and parts, and the walk ends at the block that
// completes the unpacked size, leaving what follows unread.
TEST(HfBlockWalker, HandsOutEachBlockWithItsPartsAndStopsAtTheSize) {
    ContainerBuilder c(2 + 3);
    c.Stored({7, 8}).Stored({}).Coded(AbcCode(), {'a', 'b', 'c'}).Raw({0xFF, 0xFF});
    const Bytes& bytes = c.bytes();
    HfBlockWalker walker(bytes);
    EXPECT_EQ(walker.UnpackedSize(), 5u);
    HfBlock b;
    ASSERT_TRUE(walker.Next(&b));
    EXPECT_EQ(b.offset, 24u);
    EXPECT_FALSE(b.Coded());
    EXPECT_EQ(Bytes(b.data, b.data + b.dataBytes), (Bytes{7, 8}));
    EXPECT_EQ(b.end, 34u);
    ASSERT_TRUE(walker.Next(&b));
    EXPECT_EQ(b.offset, 34u);
    EXPECT_EQ(b.end, 42u);
    ASSERT_TRUE(walker.Next(&b));
    EXPECT_TRUE(b.Coded());
    EXPECT_EQ(b.offset, 42u);
    EXPECT_EQ(b.bits, 5u);  // 0 10 11
    EXPECT_EQ(b.produced, 3u);
    EXPECT_EQ(b.codeLengths, bytes.data() + 50);
    EXPECT_EQ(b.codeBits, 5u);
    EXPECT_EQ(b.codeTable, bytes.data() + 306);
    EXPECT_EQ(b.tableBytes, 1u);
    EXPECT_EQ(b.data, bytes.data() + 307);
    EXPECT_EQ(b.dataBytes, 1u);
    EXPECT_EQ(b.end, bytes.size() - 2);
    EXPECT_FALSE(walker.Next(&b));
    EXPECT_FALSE(walker.Next(&b));
    EXPECT_EQ(walker.Status(), DecodeStatus::Ok);

    HfBlockWalker none(Bytes(24, 0));
    EXPECT_FALSE(none.Next(&b));
    EXPECT_EQ(none.Status(), DecodeStatus::HfNotContainer);
}

// A coded block cut short at every length: the walker names the part the cut
// falls in, and keeps the failing block's place and, once read, B and N.
TEST(HfBlockWalker, NamesThePartThatReachesPastTheEnd) {
    ContainerBuilder c(1 + 5);
    c.Stored({9}).Coded(AbcCode(), {'a', 'b', 'c', 'a', 'b'});
    const Bytes whole = c.bytes();
    const std::size_t coded = 24 + 9;
    for (std::size_t size = coded; size < whole.size(); ++size) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        HfBlockWalker walker(cut);
        HfBlock b;
        ASSERT_TRUE(walker.Next(&b));
        ASSERT_FALSE(walker.Next(&b)) << size;
        EXPECT_EQ(walker.Status(), DecodeStatus::HfBlockPastEnd) << size;
        EXPECT_EQ(b.offset, coded);
        const std::size_t at = size - coded;
        const HfBlockPart part = at < 8     ? HfBlockPart::Header
                                 : at < 264 ? HfBlockPart::CodeLengths
                                 : at < 265 ? HfBlockPart::CodeTable
                                            : HfBlockPart::Data;
        EXPECT_EQ(walker.PastEndPart(), part) << size;
        EXPECT_EQ(b.produced, part == HfBlockPart::Header ? 0u : 5u) << size;
    }
}

TEST(HfUnpack, RejectsByteCountsThatOvershootTheUnpackedSize) {
    ContainerBuilder stored(3);
    stored.Stored({1, 2}).Stored({3, 4});
    EXPECT_EQ(Failure(stored.bytes()), DecodeStatus::HfOvershoot);
    ContainerBuilder coded(2);
    coded.Coded(AbcCode(), {'a', 'b', 'c'});
    EXPECT_EQ(Failure(coded.bytes()), DecodeStatus::HfOvershoot);
}

TEST(HfUnpack, RejectsCodeLengthsThatAreNoPrefixCode) {
    {
        std::vector<Code> codes(256);
        codes['a'] = {2, 0b01};
        codes['b'] = {1, 0b0};  // a prefix of a's code
        ContainerBuilder c(1);
        c.Coded(codes, {'a'});
        EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfBadCodeLengths) << "shorter after longer";
    }
    {
        std::vector<Code> codes(256);
        codes['a'] = {1, 0b0};
        codes['b'] = {2, 0b01};  // runs through a's leaf
        ContainerBuilder c(1);
        c.Coded(codes, {'b'});
        EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfBadCodeLengths) << "longer after shorter";
    }
    {
        std::vector<Code> codes(256);
        codes['a'] = {3, 0b101};
        codes['b'] = {3, 0b101};  // the same code twice
        ContainerBuilder c(1);
        c.Coded(codes, {'a'});
        EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfBadCodeLengths) << "duplicate";
    }
}

TEST(HfUnpack, RejectsCodesThatNeedMoreThan511Nodes) {
    // Three long codes that part at the root and the first inner node need
    // about 200 nodes each.
    std::vector<Code> codes(256);
    codes[0] = {200, 0};
    codes[1] = {201, 0};
    codes[2] = {202, 0};
    ContainerBuilder c(1);
    BitStream table;
    table.Put(0, 200);  // 0…0
    table.PutBit(1);
    table.Put(0, 200);  // 1 0…0
    table.PutBit(0);
    table.PutBit(1);
    table.Put(0, 200);  // 01 0…0
    Bytes& b = c.bytes();
    testing::AppendLe32(b, 200);
    testing::AppendLe32(b, 1);
    for (int s = 0; s < 256; ++s) b.push_back(s < 3 ? static_cast<std::uint8_t>(200 + s) : 0);
    b.insert(b.end(), table.bytes().begin(), table.bytes().end());
    b.resize(b.size() + 25, 0);
    EXPECT_EQ(Failure(b), DecodeStatus::HfBadCodeLengths);
}

TEST(HfUnpack, RejectsCodedDataThatWalksIntoAnUnassignedBranch) {
    std::vector<Code> codes(256);
    codes['z'] = {1, 0};  // only the 0 branch of the root exists
    ContainerBuilder c(2);
    c.Coded(codes, {'z', 'z'}, 2, 2);
    c.bytes().back() = 0x40;  // coded data 0 1: the second byte takes the 1 branch
    EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfUnassignedCode);
}

TEST(HfUnpack, RejectsCodedDataThatEndsBeforeTheBlockIsDone) {
    ContainerBuilder c(20);
    c.Coded(AbcCode(), {'b', 'b'}, 20);  // claims 20 bytes from 4 bits of data
    EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfCodedDataExhausted);
}

TEST(HfUnpack, RefusesImpossibleSizesBeforeAllocating) {
    ContainerBuilder c(0xFFFFFFF0u);  // a 30-byte input claiming almost 4 GiB
    c.Raw({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(c.bytes().size(), 30u);
    EXPECT_EQ(Failure(c.bytes()), DecodeStatus::HfImpossibleSize);
    EXPECT_EQ(Failure(Bytes(24, 0)), DecodeStatus::HfNotContainer);
}

TEST(HfUnpack, RandomDamageNeverEscapesTheBuffers) {
    ContainerBuilder c(8 + 6);
    c.Coded(AbcCode(), {'a', 'b', 'c', 'c', 'b', 'a', 'a', 'a'}).Stored({1, 2, 3, 4, 5, 6});
    const Bytes good = c.bytes();
    std::mt19937 rng(7);
    for (int trial = 0; trial < 5000; ++trial) {
        Bytes damaged = good;
        const int hits = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < hits; ++i) {
            damaged[24 + rng() % (damaged.size() - 24)] = static_cast<std::uint8_t>(rng());
        }
        if (rng() % 3 == 0) damaged.resize(24 + rng() % (damaged.size() - 24));
        DecodeStatus status = DecodeStatus::Ok;
        ByteBuffer out = HfUnpack(damaged, &status);
        EXPECT_EQ(static_cast<bool>(out), status == DecodeStatus::Ok);
        if (out) {
            EXPECT_EQ(out.size(), 14);
        }
    }
}

TEST(HfLzssUnpack, ChainsBothStagesAndNamesTheFailingOne) {
    BitStream lzss;
    lzss.Literal('h');
    lzss.Literal('i');
    lzss.Match(1, 4);
    lzss.Literal(0x00);
    lzss.End();
    ContainerBuilder c(static_cast<std::uint32_t>(lzss.bytes().size()));
    c.Stored(lzss.bytes());
    DecodeStatus status = DecodeStatus::OutOfMemory;
    ByteBuffer script = HfLzssUnpack(c.bytes(), &status);
    ASSERT_TRUE(script);
    EXPECT_EQ(status, DecodeStatus::Ok);
    EXPECT_EQ(Bytes(script.data(), script.data() + script.size()),
              (Bytes{'h', 'i', 'h', 'i', 'h', 'i'}));

    Bytes truncatedStream = lzss.bytes();
    truncatedStream.pop_back();
    ContainerBuilder bad(static_cast<std::uint32_t>(truncatedStream.size()));
    bad.Stored(truncatedStream);
    EXPECT_FALSE(HfLzssUnpack(bad.bytes(), &status));
    EXPECT_EQ(status, DecodeStatus::LzssTruncated);
    EXPECT_TRUE(IsCorrupt(status));

    EXPECT_FALSE(HfLzssUnpack(Bytes(30, 0), &status));
    EXPECT_EQ(status, DecodeStatus::HfNotContainer);
}

}  // namespace
}  // namespace morivane
