#include "tests/support/reference_bitfile.h"

#include <cstdlib>
#include <new>

namespace morivane::reference {

namespace {
// A sink grows in fixed steps rather than by doubling: the streams it serves
// expand to a known, modest multiple of their input.
constexpr std::uint32_t kSinkGrowth = 4096;
constexpr std::uint32_t kMaxBuffer = 0x7FFFFFFFu;  // lengths are signed 32-bit
}  // namespace

BitFile* OpenBitFile(std::uint8_t* buffer, std::uint32_t size) {
    BitFile* f = new (std::nothrow) BitFile;
    if (f == nullptr) return nullptr;
    *f = BitFile{buffer, buffer, size, 0x80, 0, 0, false};
    return f;
}

int PutByte(int value, BitFile* f) {
    if (f->count == f->capacity) {
        if (f->capacity > kMaxBuffer - kSinkGrowth) return -1;
        const std::uint32_t grown = f->capacity + kSinkGrowth;
        auto* base = static_cast<std::uint8_t*>(std::realloc(f->base, grown));
        if (base == nullptr) return -1;
        f->base = base;
        f->capacity = grown;
        f->cursor = base + f->count;
    }
    *f->cursor++ = static_cast<std::uint8_t>(value);
    ++f->count;
    return value;
}

ByteBuffer CloseBitFile(BitFile* f) {
    if (f == nullptr) return {};
    std::uint8_t* base = f->base;
    const std::uint32_t count = f->count;
    delete f;
    if (count == 0) {
        std::free(base);
        return {};
    }
    const std::uint32_t kept = count - 1;  // the stream's extra tail byte
    // Keep at least one byte allocated so that an empty result stays a valid
    // (non-null) buffer; realloc to 0 may free the block.
    auto* shrunk = static_cast<std::uint8_t*>(std::realloc(base, kept > 0 ? kept : 1));
    if (shrunk == nullptr) shrunk = base;  // shrinking in place failed: keep it
    return ByteBuffer::Adopt(shrunk, static_cast<std::int32_t>(kept));
}

void FreeBitFile(BitFile* f) {
    delete f;
}

void DiscardBitFile(BitFile* f) {
    if (f == nullptr) return;
    std::free(f->base);
    delete f;
}

}  // namespace morivane::reference
