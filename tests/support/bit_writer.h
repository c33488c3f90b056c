// Test helper: writes bit fields most significant bit first, as the payload
// formats store them, so tests can hand-build streams and containers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace morivane::testing {

class BitWriter {
  public:
    // Writes the low `bits` bits of value; fields wider than 32 bits are
    // zero-extended.
    void Put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) PutBit(i < 32 ? (value >> i) & 1u : 0u);
    }
    void PutBit(unsigned bit) {
        if (used_ == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> used_);
        used_ = (used_ + 1) & 7;
    }
    std::size_t bitCount() const { return bytes_.size() * 8 - (used_ ? 8 - used_ : 0); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    // LZSS tokens.
    void Literal(std::uint8_t value) {
        PutBit(1);
        Put(value, 8);
    }
    void Match(std::uint32_t position, std::uint32_t length) {
        PutBit(0);
        Put(position, 12);
        Put(length - 2, 4);
    }
    void End() {
        PutBit(0);
        Put(0, 12);
    }

  private:
    std::vector<std::uint8_t> bytes_;
    int used_ = 0;  // bits used in the last byte
};

inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An HF container under construction: header first, then blocks appended.
class ContainerBuilder {
  public:
    explicit ContainerBuilder(std::uint32_t unpackedSize) {
        AppendLe32(bytes_, 0);
        AppendLe32(bytes_, unpackedSize);
        bytes_.push_back('H');
        bytes_.push_back('F');
        bytes_.resize(24, 0);
    }
    ContainerBuilder& Stored(const std::vector<std::uint8_t>& data) {
        AppendLe32(bytes_, 0);
        AppendLe32(bytes_, static_cast<std::uint32_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    // A coded block from explicit codes: codes[s] = {length, code bits}. The
    // coded data is the codes of `data`; `bits` overrides B when non-zero.
    struct Code {
        std::uint8_t length = 0;
        std::uint32_t bits = 0;
    };
    ContainerBuilder& Coded(const std::vector<Code>& codes, const std::vector<std::uint8_t>& data,
                            std::uint32_t producedOverride = 0xFFFFFFFF,
                            std::uint32_t bOverride = 0) {
        BitWriter table, coded;
        for (std::size_t s = 0; s < 256; ++s) {
            if (s < codes.size() && codes[s].length > 0) table.Put(codes[s].bits, codes[s].length);
        }
        for (std::uint8_t v : data) coded.Put(codes[v].bits, codes[v].length);
        const auto b = bOverride ? bOverride : static_cast<std::uint32_t>(coded.bitCount());
        AppendLe32(bytes_, b);
        AppendLe32(bytes_, producedOverride != 0xFFFFFFFF
                               ? producedOverride
                               : static_cast<std::uint32_t>(data.size()));
        for (std::size_t s = 0; s < 256; ++s)
            bytes_.push_back(s < codes.size() ? codes[s].length : 0);
        bytes_.insert(bytes_.end(), table.bytes().begin(), table.bytes().end());
        bytes_.insert(bytes_.end(), coded.bytes().begin(), coded.bytes().end());
        return *this;
    }
    ContainerBuilder& Raw(std::initializer_list<std::uint8_t> more) {
        bytes_.insert(bytes_.end(), more);
        return *this;
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace morivane::testing
