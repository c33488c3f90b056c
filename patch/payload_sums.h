// The sums stored beside a payload (resource type "SABUNNSUM", the payload's
// id): the size and CRC-32 (patch/crc32.h) of the whole old file the payload
// applies to and of the new file it makes. The update checks the installed
// files against them before it asks anything, and each rebuilt file before
// it replaces anything. A payload set without sums is applied unchecked.
//
// Layout, 24 bytes, little-endian:
//   0   4  tag "SSUM"
//   4   4  format version, 1
//   8   4  old file size      12  4  old file CRC-32
//   16  4  new file size      20  4  new file CRC-32
// Anything else is not a set of sums; nothing after byte 24 is read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace morivane {

struct FileSum {
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    friend bool operator==(const FileSum&, const FileSum&) = default;
};

struct PayloadSums {
    FileSum oldFile;
    FileSum newFile;
    friend bool operator==(const PayloadSums&, const PayloadSums&) = default;
};

inline constexpr std::size_t kPayloadSumsSize = 24;

// The sums of `bytes`, or nothing when they are not a set of sums (wrong tag,
// version or length).
std::optional<PayloadSums> ParsePayloadSums(std::span<const std::uint8_t> bytes);

std::array<std::uint8_t, kPayloadSumsSize> EncodePayloadSums(const PayloadSums& sums);

// The size and CRC-32 of `bytes`; nothing for data of 4 GiB or more.
std::optional<FileSum> SumOf(std::span<const std::uint8_t> bytes);

// "size 1208832, CRC-32 0x1A2B3C4D", for tools.
std::string DescribeSum(const FileSum& sum);

}  // namespace morivane
