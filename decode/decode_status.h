// Why a decoder returned a null buffer. Out of memory is kept apart from every
// kind of damage, because the patcher reports the two with different messages.
#pragma once

namespace morivane {

enum class DecodeStatus {
    Ok = 0,
    OutOfMemory,  // an allocation failed, or a result would exceed 2 GiB

    // LZSS stream
    LzssTruncated,        // the input ran out before the End token
    LzssUnwrittenCopy,    // a match copies a window position the stream never wrote
    LzssNothingProduced,  // the stream ended before producing any byte

    // HF container
    HfNotContainer,        // no "HF" magic at offset 8, or shorter than the header
    HfImpossibleSize,      // the unpacked size is more than the container could hold
    HfBlockPastEnd,        // a block header, code table, stored data or coded data
                           // reaches past the end of the container
    HfOvershoot,           // the blocks produce more bytes than the unpacked size
    HfBadCodeLengths,      // the code lengths are no prefix code, or need > 511 nodes
    HfUnassignedCode,      // the coded data walks into a branch no code reaches
    HfCodedDataExhausted,  // a block's coded data ends before its N bytes are decoded
};

// A short English name for the status, for tools and test output.
const char* DecodeStatusName(DecodeStatus status);

// True for every failure that means the input is damaged (not out of memory).
inline bool IsCorrupt(DecodeStatus status) {
    return status != DecodeStatus::Ok && status != DecodeStatus::OutOfMemory;
}

}  // namespace morivane
