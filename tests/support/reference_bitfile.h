// BitFile: a memory buffer read bit by bit, most significant bit first (a
// source), or filled byte by byte into a heap block that grows as needed (a
// sink). One record type serves both roles. Only the reference decoders
// (reference_decode.h) use it: the product's decoders read whole words.
#pragma once

#include <cstdint>

#include "decode/bytes.h"

namespace morivane::reference {

struct BitFile {
    std::uint8_t* base;      // first byte; a sink's base moves when it grows
    std::uint8_t* cursor;    // next byte to read or write
    std::uint32_t capacity;  // a source's data length, or a sink's allocation
    std::uint8_t mask;       // bit of `rack` the next read returns; 0x80: fetch first
    std::int32_t rack;       // byte being read bit by bit
    std::uint32_t count;     // bytes read or written so far (cursor - base)
    bool exhausted;          // a source was asked for a byte past its end
};

// A new record over `buffer` of `size` bytes: cursor at the start, mask 0x80,
// rack 0, count 0. Null when the record cannot be allocated. A source never
// owns its buffer; a sink owns a malloc'd buffer until CloseBitFile.
BitFile* OpenBitFile(std::uint8_t* buffer, std::uint32_t size);

// The byte at the cursor (0..255), advancing by one; -1 at the end of the data,
// with nothing changed. Never reads past the buffer.
inline int GetByte(BitFile* f) {
    if (f->count >= f->capacity) return -1;
    ++f->count;
    return *f->cursor++;
}

// Appends the low 8 bits of `value` to a sink and returns `value`. A full
// buffer first grows by 4096 bytes; if it cannot grow, returns -1 and the sink
// must only be discarded.
int PutByte(int value, BitFile* f);

// The next bit of a source, 0 or 1. When the source has no byte left it
// returns 0 and sets `exhausted`, which stays set: the caller checks it once per
// token instead of the process ending.
inline int InputBit(BitFile* f) {
    if (f->mask == 0x80) {
        const int byte = GetByte(f);
        if (byte < 0) {
            f->exhausted = true;
            return 0;
        }
        f->rack = byte;
    }
    const int bit = (f->rack & f->mask) != 0;
    f->mask >>= 1;
    if (f->mask == 0) f->mask = 0x80;
    return bit;
}

// The next n bits (1..32) of a source as an unsigned number, first bit most
// significant. Sets `exhausted` (and reads zeros) when the source runs out.
inline std::uint32_t ReadBits(BitFile* f, int n) {
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 1) | static_cast<std::uint32_t>(InputBit(f));
    return value;
}

// Finishes a sink: drops the last byte written, shrinks the block to the bytes
// that remain and frees the record. The result is null when nothing at all was
// written. Accepts null.
ByteBuffer CloseBitFile(BitFile* f);

// Frees a source's record; the buffer under it stays the caller's. Accepts null.
void FreeBitFile(BitFile* f);

// Frees a sink's record and its buffer without producing a result (failure
// paths). Accepts null.
void DiscardBitFile(BitFile* f);

}  // namespace morivane::reference
