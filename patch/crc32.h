// CRC-32 with the polynomial of zlib, PNG and ZIP (reflected 0xEDB88320,
// initial value and final xor 0xFFFFFFFF): CRC32("123456789") = 0xCBF43926.
// Continue a running value by passing the previous result as `crc`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morivane {

namespace crc32_detail {
constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        table[n] = c;
    }
    return table;
}
inline constexpr std::array<std::uint32_t, 256> kTable = MakeTable();
}  // namespace crc32_detail

inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
    crc = ~crc;
    for (const std::uint8_t byte : bytes)
        crc = crc32_detail::kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace morivane
