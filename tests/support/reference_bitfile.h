// BitFile, the bit stream of the reference decoders: a memory buffer read one
// bit at a time, most significant bit first (a source), or collected byte by
// byte into a heap block that grows in steps of 4096 bytes (a sink). It is
// written apart from the product's decoders, which read whole machine words,
// and shares nothing with them.
#pragma once

#include <cstdint>

namespace morivane::reference {

struct BitFile {
    std::uint8_t* base;      // first byte; a sink's base moves when it grows
    std::uint8_t* cursor;    // next byte to read or write
    std::uint32_t capacity;  // a source's length, or what a sink has allocated
    std::uint8_t mask;       // the bit of `rack` the next read returns; 0x80: fetch first
    std::int32_t rack;       // the byte being read bit by bit
    std::uint32_t count;     // bytes read or written so far: cursor - base
};

// What InputBit and ReadBits raise when a source has no byte left for them
// ("Fatal error in InputBit!"). The updater this stream comes from ended the
// process there; the reference decoders catch it and report a failure.
struct InputBitFatal {};

// A record over `size` bytes at `buffer`, cursor at the start, mask 0x80, rack
// and count 0; null when it cannot be allocated. A source never owns its
// buffer. A sink's buffer must come from malloc and belongs to the sink until
// CloseBitFile (or DiscardBitFile).
BitFile* OpenBitFile(std::uint8_t* buffer, std::uint32_t size);

// The byte at the cursor (0..255), moving on by one; -1, with nothing changed,
// once count has reached capacity.
inline int GetByte(BitFile* source) {
    if (source->count == source->capacity) return -1;
    const int byte = *source->cursor;
    ++source->cursor;
    ++source->count;
    return byte;
}

// Appends the low 8 bits of `value` and returns `value`. A full sink first
// grows by 4096 bytes; one that cannot grow (out of memory, or past the
// signed 32-bit lengths) gives -1 and may then only be discarded.
int PutByte(int value, BitFile* sink);

// The next bit, 0 or 1. Throws InputBitFatal when a byte is needed and none is
// left.
inline int InputBit(BitFile* source) {
    if (source->mask == 0x80) {
        source->rack = GetByte(source);
        if (source->rack == -1) throw InputBitFatal{};
    }
    const int bit = (source->rack & source->mask) ? 1 : 0;
    source->mask = static_cast<std::uint8_t>(source->mask >> 1);
    if (source->mask == 0) source->mask = 0x80;
    return bit;
}

// The next n bits (1..32), the first read the most significant. Throws
// InputBitFatal like InputBit.
inline std::uint32_t ReadBits(BitFile* source, int n) {
    std::uint32_t weight = 1u << (n - 1);
    std::uint32_t value = 0;
    while (weight != 0) {
        value += static_cast<std::uint32_t>(InputBit(source)) * weight;  // a 1 bit adds its weight
        weight >>= 1;
    }
    return value;
}

// A finished sink's bytes. `data` is malloc'd and the caller's to free; null,
// with length -1, when nothing was written.
struct SinkBytes {
    std::uint8_t* data;
    std::int32_t length;
};

// Finishes a sink: drops the last byte written, shrinks the buffer to the
// bytes left and frees the record.
SinkBytes CloseBitFile(BitFile* sink);

// Frees a source's record; its buffer is left alone. Accepts null.
void FreeBitFile(BitFile* source);

// Frees a sink's record and its buffer, on the paths that produce nothing.
// Accepts null.
void DiscardBitFile(BitFile* sink);

}  // namespace morivane::reference
