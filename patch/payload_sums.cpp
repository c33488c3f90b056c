#include "patch/payload_sums.h"

#include <cstdio>

#include "decode/bytes.h"
#include "patch/crc32.h"

namespace morivane {

namespace {
constexpr std::uint8_t kTag[4] = {'S', 'S', 'U', 'M'};
constexpr std::uint32_t kFormatVersion = 1;
}  // namespace

std::optional<PayloadSums> ParsePayloadSums(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kPayloadSumsSize) return std::nullopt;
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] != kTag[i]) return std::nullopt;
    }
    const std::uint8_t* p = bytes.data();
    if (LoadLe32(p + 4) != kFormatVersion) return std::nullopt;
    return PayloadSums{{LoadLe32(p + 8), LoadLe32(p + 12)}, {LoadLe32(p + 16), LoadLe32(p + 20)}};
}

std::array<std::uint8_t, kPayloadSumsSize> EncodePayloadSums(const PayloadSums& sums) {
    std::array<std::uint8_t, kPayloadSumsSize> out{};
    for (int i = 0; i < 4; ++i) out[i] = kTag[i];
    StoreLe32(out.data() + 4, kFormatVersion);
    StoreLe32(out.data() + 8, sums.oldFile.size);
    StoreLe32(out.data() + 12, sums.oldFile.crc);
    StoreLe32(out.data() + 16, sums.newFile.size);
    StoreLe32(out.data() + 20, sums.newFile.crc);
    return out;
}

std::optional<FileSum> SumOf(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > 0xFFFFFFFFu) return std::nullopt;
    return FileSum{static_cast<std::uint32_t>(bytes.size()), Crc32(bytes)};
}

std::string DescribeSum(const FileSum& sum) {
    char text[64];
    std::snprintf(text, sizeof text, "size %u, CRC-32 0x%08X", static_cast<unsigned>(sum.size),
                  static_cast<unsigned>(sum.crc));
    return text;
}

}  // namespace morivane
