// LZSS stream expansion.
//
// Stream format: bits read from byte 0 on, most significant bit of each byte
// first; tokens follow each other with no byte alignment.
//   Literal: 1, value(8)                       produce one byte
//   Match:   0, position(12) = 1..4095, n(4)   produce n + 2 bytes copied from
//            the window starting at that position
//   End:     0, position(12) = 0
// Every produced byte is also stored in a 4096-byte window at the current
// position, which starts at 1 and advances modulo 4096. A match copies byte by
// byte, each byte stored before the next is read, so a match starting fewer
// than n + 2 positions back repeats what it has just produced. The stream
// carries one extra byte after its content (0x00 in practice) that expansion
// produces and then drops.
#pragma once

#include <cstdint>

#include "decode/bytes.h"
#include "decode/decode_status.h"

namespace morivane {

inline constexpr int kLzssWindowSize = 4096;
inline constexpr int kLzssPositionBits = 12;
inline constexpr int kLzssLengthBits = 4;
inline constexpr int kLzssMinMatch = 2;
inline constexpr int kLzssMaxMatch = 17;

// Expands a complete stream. Returns the content (every byte produced but the
// last) in a new buffer, or a null buffer with the reason in *status:
// LzssTruncated when the input ends before the End token, LzssUnwrittenCopy
// when a match reads a window position this stream has not written yet,
// LzssNothingProduced when the stream holds no byte at all, OutOfMemory when a
// buffer cannot be had. The window is this call's own output, so expansions
// are independent and may run on several threads. Never reads outside `input`.
ByteBuffer LzssExpand(ByteSpan input, DecodeStatus* status = nullptr);

}  // namespace morivane
