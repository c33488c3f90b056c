// CRC-32 with the polynomial of zlib, PNG and ZIP (reflected 0xEDB88320,
// initial value and final xor 0xFFFFFFFF): CRC32("123456789") = 0xCBF43926.
// Continue a running value by passing the previous result as `crc`.
//
// Eight bytes are taken per step through eight tables ("slicing by 8"):
// table k gives the CRC of a byte followed by k zero bytes, so the eight
// lookups of one step add up to the CRC of the eight bytes. The sums of whole
// files are taken on every update and every `sabunn apply`, where a byte at a
// time was a good part of the run's time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morivane {

namespace crc32_detail {
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr Tables MakeTables() {
    Tables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}
inline constexpr Tables kTables = MakeTables();

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace crc32_detail

inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
    using crc32_detail::kTables;
    crc = ~crc;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 8; left -= 8, p += 8) {
        const std::uint32_t low = crc ^ crc32_detail::LoadLe32(p);
        const std::uint32_t high = crc32_detail::LoadLe32(p + 4);
        crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
              kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^
              kTables[2][(high >> 8) & 0xFF] ^ kTables[1][(high >> 16) & 0xFF] ^
              kTables[0][high >> 24];
    }
    for (; left > 0; --left, ++p) crc = kTables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace morivane
