#include "tests/support/reference_bitfile.h"

#include <cstdlib>
#include <new>

namespace morivane::reference {

namespace {
constexpr std::uint32_t kGrowth = 4096;
constexpr std::uint32_t kLargestBuffer = 0x7FFFFFFF;  // lengths are signed 32-bit
}  // namespace

BitFile* OpenBitFile(std::uint8_t* buffer, std::uint32_t size) {
    auto* f = new (std::nothrow) BitFile;
    if (f == nullptr) return nullptr;
    f->base = buffer;
    f->cursor = buffer;
    f->capacity = size;
    f->mask = 0x80;
    f->rack = 0;
    f->count = 0;
    return f;
}

int PutByte(int value, BitFile* sink) {
    if (sink->count == sink->capacity) {
        if (kLargestBuffer - sink->capacity < kGrowth) return -1;
        const std::uint32_t grown = sink->capacity + kGrowth;
        void* moved = std::realloc(sink->base, grown);
        if (moved == nullptr) return -1;
        sink->base = static_cast<std::uint8_t*>(moved);
        sink->capacity = grown;
        sink->cursor = sink->base + sink->count;
    }
    *sink->cursor = static_cast<std::uint8_t>(value & 0xFF);
    ++sink->cursor;
    ++sink->count;
    return value;
}

SinkBytes CloseBitFile(BitFile* sink) {
    std::uint8_t* data = sink->base;
    const std::uint32_t written = sink->count;
    delete sink;
    if (written == 0) {
        std::free(data);
        return {nullptr, -1};
    }
    const std::uint32_t kept = written - 1;
    // realloc to 0 bytes may free the block; an empty result keeps one byte.
    void* shrunk = std::realloc(data, kept == 0 ? 1 : kept);
    if (shrunk != nullptr) data = static_cast<std::uint8_t*>(shrunk);
    return {data, static_cast<std::int32_t>(kept)};
}

void FreeBitFile(BitFile* source) {
    delete source;
}

void DiscardBitFile(BitFile* sink) {
    if (sink == nullptr) return;
    std::free(sink->base);
    delete sink;
}

}  // namespace morivane::reference
