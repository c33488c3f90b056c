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

// One block of a container as HfBlockWalker hands it out: every part lies
// inside the container, and N fits in what the earlier blocks left of the
// unpacked size.
struct HfBlock {
    std::uint64_t offset = 0;    // where the block header starts
    std::uint32_t bits = 0;      // B: bits of coded data; 0 marks a stored block
    std::uint32_t produced = 0;  // N: bytes the block produces
    // Coded blocks: the 256 code lengths, and the code table of S bits.
    const std::uint8_t* codeLengths = nullptr;
    const std::uint8_t* codeTable = nullptr;
    std::uint32_t codeBits = 0;    // S, the sum of the code lengths
    std::uint32_t tableBytes = 0;  // (S + 7) / 8
    // The stored bytes (N of them), or the coded data ((B + 7) / 8 bytes).
    const std::uint8_t* data = nullptr;
    std::uint64_t dataBytes = 0;
    std::uint64_t end = 0;  // just past the block: where the next one starts

    bool Coded() const { return bits != 0; }
};

// The part of a block that reaches past the end of the container.
enum class HfBlockPart { None, Header, CodeLengths, CodeTable, Data };

// Walks a container's blocks in order, checking each against the container's
// end and the unpacked size before handing it out. The one place that knows
// the block layout: the decoder and the tools' description both walk with it.
class HfBlockWalker {
  public:
    // Anything but a container (see HfUnpackedSize) yields no block and the
    // status HfNotContainer.
    explicit HfBlockWalker(ByteSpan container);

    // The next block in *block, true while there is one. After the block that
    // brings the bytes produced up to the unpacked size, or at a block that
    // fails a check, it returns false; Status() then tells which. A failing
    // block leaves in *block what was read of it: its offset, and B and N when
    // its header lies inside the container.
    bool Next(HfBlock* block);

    // Ok while walking and after the last block; otherwise why the walk stopped.
    DecodeStatus Status() const { return status_; }
    // With HfBlockPastEnd: which part of the failing block reaches past the end.
    HfBlockPart PastEndPart() const { return pastEnd_; }
    std::uint32_t UnpackedSize() const { return unpacked_; }

  private:
    bool Stop(DecodeStatus why, HfBlockPart part = HfBlockPart::None);

    ByteSpan data_;
    std::uint32_t unpacked_ = 0;
    std::uint64_t offset_ = kHfHeaderSize;
    std::uint64_t total_ = 0;
    bool finished_ = false;
    DecodeStatus status_ = DecodeStatus::Ok;
    HfBlockPart pastEnd_ = HfBlockPart::None;
};

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
