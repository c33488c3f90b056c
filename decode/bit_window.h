// Reading a byte buffer's bits most significant bit first, a machine word at a
// time: the fast decoders take up to 57 bits in one load and then consume them
// with shifts, instead of fetching one bit per step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace morivane {

// The eight bytes at p as a big-endian number: p[0] becomes the top byte.
inline std::uint64_t LoadBe64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// A read position, counted in bits, over [data, data + size).
class BitCursor {
  public:
    BitCursor(const std::uint8_t* data, std::size_t size)
        : data_(data), bytes_(size), bits_(static_cast<std::uint64_t>(size) * 8) {}

    // Bits not yet consumed.
    std::uint64_t Left() const { return bits_ - position_; }
    void Skip(std::uint64_t bits) { position_ += bits; }

    // The next bits, left-aligned: the next bit is bit 63. At least 57 of
    // them, or all that are left, come from the data; the rest read as zero.
    // The caller must not consume more than Left().
    std::uint64_t Window() const {
        const std::uint64_t at = position_ >> 3;
        const unsigned shift = static_cast<unsigned>(position_ & 7);
        if (at + 8 <= bytes_) return LoadBe64(data_ + at) << shift;
        std::uint8_t tail[8] = {};
        if (at < bytes_) std::memcpy(tail, data_ + at, static_cast<std::size_t>(bytes_ - at));
        return LoadBe64(tail) << shift;
    }

  private:
    const std::uint8_t* data_;
    std::uint64_t bytes_;
    std::uint64_t bits_;
    std::uint64_t position_ = 0;
};

}  // namespace morivane
