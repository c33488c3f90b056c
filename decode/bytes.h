// Owned byte buffers and little-endian field access, shared by every reader and
// writer of the payload formats.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>
#include <utility>

namespace morivane {

using ByteSpan = std::span<const std::uint8_t>;

// A heap block together with its length as a signed 32-bit number, the form in
// which every decoder hands back its result. A default-constructed buffer is
// null (failure); a buffer of length 0 is a valid, empty result. The memory
// comes from malloc so that a growing sink can realloc it.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, -1)) {}
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, -1);
        }
        return *this;
    }
    ~ByteBuffer() { std::free(data_); }

    // A zero-filled buffer of `size` bytes, or a null buffer when size is
    // negative or the memory cannot be had.
    static ByteBuffer Allocate(std::int32_t size) {
        ByteBuffer b;
        if (size < 0) return b;
        b.data_ = static_cast<std::uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
        if (b.data_ != nullptr) b.size_ = size;
        return b;
    }
    // Takes over a block from malloc/realloc that holds `size` valid bytes.
    static ByteBuffer Adopt(std::uint8_t* data, std::int32_t size) {
        ByteBuffer b;
        b.data_ = data;
        b.size_ = data != nullptr && size >= 0 ? size : -1;
        return b;
    }

    explicit operator bool() const { return size_ >= 0; }
    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::int32_t size() const { return size_ < 0 ? 0 : size_; }
    ByteSpan span() const { return {data_, static_cast<std::size_t>(size())}; }

  private:
    std::uint8_t* data_ = nullptr;
    std::int32_t size_ = -1;  // -1: null buffer
};

// Little-endian loads and stores at any byte position; callers check bounds.
inline std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void StoreLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace morivane
