// The table-driven CRC-32 against a bit-at-a-time one written from the
// polynomial alone, at every length and alignment the eight-byte steps and
// their tail can meet, and continued across any split.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "patch/crc32.h"

namespace morivane {
namespace {

std::uint32_t BitwiseCrc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

TEST(Crc32, MatchesTheBitwiseDefinitionAtEveryLengthOffsetAndSplit) {
    constexpr std::string_view kCheck = "123456789";
    EXPECT_EQ(Crc32({reinterpret_cast<const std::uint8_t*>(kCheck.data()), kCheck.size()}),
              0xCBF43926u);
    EXPECT_EQ(Crc32({}), 0u);

    std::mt19937 rng(17);
    std::vector<std::uint8_t> data(300);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::span<const std::uint8_t> all(data);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t length = 0; offset + length <= 80; ++length) {
            const auto piece = all.subspan(offset, length);
            ASSERT_EQ(Crc32(piece), BitwiseCrc32(piece)) << offset << "+" << length;
        }
    }
    const std::uint32_t whole = BitwiseCrc32(all);
    for (std::size_t split = 0; split <= data.size(); split += 7) {
        EXPECT_EQ(Crc32(all.subspan(split), Crc32(all.first(split))), whole) << split;
    }
}

}  // namespace
}  // namespace morivane
