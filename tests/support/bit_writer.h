// Test helpers: hand-built LZSS streams and HF containers, written through
// the encoders' BitWriter so that tests can make streams no encoder would.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tools/encode/bit_writer.h"

namespace morivane::testing {

// Bit fields of any width, LZSS tokens, and the bits so far as whole bytes.
class BitStream {
  public:
    // Writes the low `bits` bits of value; fields wider than 32 bits are
    // zero-extended.
    void Put(std::uint32_t value, int bits) {
        count_ += static_cast<std::size_t>(bits);
        stale_ = true;
        while (bits > 32) {
            const int zeros = std::min(bits - 32, 32);
            writer_.Put(0, zeros);
            bits -= zeros;
        }
        writer_.Put(value, bits);
    }
    void PutBit(unsigned bit) { Put(bit & 1u, 1); }
    std::size_t bitCount() const { return count_; }
    // The bits so far, the last byte padded with zero bits. The reference
    // stays valid, and the same, until the next Put.
    const std::vector<std::uint8_t>& bytes() const {
        if (stale_) {
            BitWriter copy = writer_;
            padded_ = copy.Take();
            stale_ = false;
        }
        return padded_;
    }

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
    BitWriter writer_;
    std::size_t count_ = 0;
    mutable std::vector<std::uint8_t> padded_;
    mutable bool stale_ = true;
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
        BitStream table, coded;
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
