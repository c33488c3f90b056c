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
    // The source is used up: the next read is the fatal error, with nothing
    // taken from past the buffer.
    EXPECT_THROW(InputBit(f), InputBitFatal);
    EXPECT_THROW(ReadBits(f, 4), InputBitFatal);
    EXPECT_EQ(f->count, 2u);
    FreeBitFile(f);
}

TEST(BitFileSource, ReadsThirtyTwoBitsAtOnce) {
    std::uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF};
    BitFile* f = OpenBitFile(data, sizeof data);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadBits(f, 32), 0xDEADBEEFu);
    EXPECT_EQ(f->mask, 0x80);
    FreeBitFile(f);
}

TEST(BitFileSink, GrowsInFixedStepsAndDropsTheLastByteOnClose) {
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(3));
    BitFile* f = OpenBitFile(buffer, 3);
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(PutByte(i, f), i);
    EXPECT_EQ(f->capacity, 3u + 4096u + 4096u);  // two growths of 4096, never doubling
    EXPECT_EQ(f->count, 5000u);
    const SinkBytes out = CloseBitFile(f);
    ASSERT_NE(out.data, nullptr);
    ASSERT_EQ(out.length, 4999);
    for (int i = 0; i < 4999; ++i) ASSERT_EQ(out.data[i], static_cast<std::uint8_t>(i));
    std::free(out.data);
}

TEST(BitFileSink, OneByteWrittenClosesToAValidEmptyBuffer) {
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(4));
    BitFile* f = OpenBitFile(buffer, 4);
    ASSERT_NE(f, nullptr);
    PutByte(0, f);
    const SinkBytes out = CloseBitFile(f);
    EXPECT_NE(out.data, nullptr);
    EXPECT_EQ(out.length, 0);
    std::free(out.data);
}

TEST(BitFileSink, NothingWrittenClosesToNull) {
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(4));
    BitFile* f = OpenBitFile(buffer, 4);
    ASSERT_NE(f, nullptr);
    const SinkBytes out = CloseBitFile(f);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(out.length, -1);
}

}  // namespace
}  // namespace morivane::reference
