// The HF Huffman container, outer stage of a compressed payload.
//
// All numbers little-endian.
//   Header (24 bytes): u32 total size (not read), u32 unpacked size,
//                      "HF" at offset 8, 14 reserved bytes (not read).
//   Blocks from offset 24, back to back, until the bytes they produce reach
//   the unpacked size. Each starts with u32 B (bits of coded data), u32 N
//   (bytes produced).
//     B = 0, stored: N bytes follow and are copied (N = 0: an empty block).
//     B > 0, coded:  256 code lengths L[s] (0: s absent); the code table, each
//                    present value's code of L[s] bits in increasing order of s,
//                    padded to a byte; then (B + 7) / 8 bytes of coded data.
//   Codes are read most significant bit first, the first bit choosing the
//   branch at the root.
#pragma once

#include <cstdint>

#include "decode/bytes.h"
#include "decode/decode_status.h"

namespace morivane {

inline constexpr int kHfHeaderSize = 24;
inline constexpr int kHfMagicOffset = 8;
inline constexpr std::uint16_t kHfMagic = 0x4648;  // the bytes 'H' 'F'
inline constexpr int kHfBlockHeaderSize = 8;
inline constexpr int kHfCodeLengthsSize = 256;
inline constexpr int kHfMaxNodes = 512;  // node numbers 0..511

// True when bytes 8 and 9 are "HF". Data shorter than 10 bytes is no container.
bool IsHfContainer(ByteSpan data);

// The unpacked size from offset 4 when the magic is present (and the header
// complete), otherwise -1.
std::int64_t HfUnpackedSize(ByteSpan data);

// The block the Huffman stage was reading when it stopped, so that a damaged
// container can be reported by place: its number, counted from 0, and the
// container offset of its header. Block -1 is the 24-byte header. Meaningful
// after a failure with an HF status.
struct HfPosition {
    std::int64_t block = -1;
    std::uint64_t offset = 0;
};

// Decodes the Huffman stage into a new buffer of exactly the unpacked size.
// Returns null with *status set when the data is no container, is damaged in
// any way (see DecodeStatus), or memory runs out. An unpacked size the
// container could not possibly produce is refused before anything is
// allocated. Never reads or writes outside its buffers.
ByteBuffer HfUnpack(ByteSpan container, DecodeStatus* status = nullptr);
// The same, telling in *where (when not null) which block it stopped in.
ByteBuffer HfUnpack(ByteSpan container, DecodeStatus* status, HfPosition* where);

// Both stages: the Huffman stage, then LZSS expansion of what it gives. Returns
// the script, or null with *status telling which stage failed and why (and
// *where which block, when it was the Huffman stage).
ByteBuffer HfLzssUnpack(ByteSpan container, DecodeStatus* status = nullptr);
ByteBuffer HfLzssUnpack(ByteSpan container, DecodeStatus* status, HfPosition* where);

}  // namespace morivane
