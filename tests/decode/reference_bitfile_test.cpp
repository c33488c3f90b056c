#include "tests/support/reference_bitfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace morivane::reference {
namespace {

TEST(BitFileSource, DeliversExactlyCapacityBytesThenMinusOne) {
    std::uint8_t data[] = {0x00, 0x7F, 0xFF};
    BitFile* f = OpenBitFile(data, 2);  // only two of the three bytes belong to it
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->mask, 0x80);
    EXPECT_EQ(GetByte(f), 0x00);
    EXPECT_EQ(GetByte(f), 0x7F);
    EXPECT_EQ(GetByte(f), -1);
    EXPECT_EQ(GetByte(f), -1);
    EXPECT_EQ(f->count, 2u);
    EXPECT_EQ(f->cursor, data + 2);
    FreeBitFile(f);
}

TEST(BitFileSource, ReadsMostSignificantBitFirstAcrossBytes) {
    std::uint8_t data[] = {0xC8, 0x64};  // 1100 1000 0110 0100
    BitFile* f = OpenBitFile(data, sizeof data);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(InputBit(f), 1);
    // Eight bits spanning both bytes: 1001000 0 -> 0x90, as a literal's value.
    EXPECT_EQ(ReadBits(f, 8), 0x90u);
    EXPECT_EQ(ReadBits(f, 7), 0x64u);
    EXPECT_FALSE(f->exhausted);
    // The source is used up: further reads give zeros and mark it exhausted.
    EXPECT_EQ(InputBit(f), 0);
    EXPECT_TRUE(f->exhausted);
    FreeBitFile(f);
}

TEST(BitFileSource, ReadsThirtyTwoBitsAtOnce) {
    std::uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF};
    BitFile* f = OpenBitFile(data, sizeof data);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadBits(f, 32), 0xDEADBEEFu);
    EXPECT_FALSE(f->exhausted);
    FreeBitFile(f);
}

TEST(BitFileSink, GrowsInFixedStepsAndDropsTheLastByteOnClose) {
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(3));
    BitFile* f = OpenBitFile(buffer, 3);
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(PutByte(i, f), i);
    EXPECT_EQ(f->capacity, 3u + 4096u + 4096u);  // two growths of 4096, never doubling
    EXPECT_EQ(f->count, 5000u);
    ByteBuffer out = CloseBitFile(f);
    ASSERT_TRUE(out);
    ASSERT_EQ(out.size(), 4999);
    for (int i = 0; i < 4999; ++i) ASSERT_EQ(out.data()[i], static_cast<std::uint8_t>(i));
}

TEST(BitFileSink, OneByteWrittenClosesToAValidEmptyBuffer) {
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(4));
    BitFile* f = OpenBitFile(buffer, 4);
    ASSERT_NE(f, nullptr);
    PutByte(0, f);
    ByteBuffer out = CloseBitFile(f);
    EXPECT_TRUE(out);
    EXPECT_EQ(out.size(), 0);
}

TEST(BitFileSink, NothingWrittenClosesToNull) {
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(4));
    BitFile* f = OpenBitFile(buffer, 4);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(CloseBitFile(f));
    EXPECT_FALSE(CloseBitFile(nullptr));
}

}  // namespace
}  // namespace morivane::reference
