#include "decode/decode_status.h"

namespace morivane {

const char* DecodeStatusName(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::Ok:
            return "ok";
        case DecodeStatus::OutOfMemory:
            return "out of memory";
        case DecodeStatus::LzssTruncated:
            return "LZSS stream ends before its end marker";
        case DecodeStatus::LzssUnwrittenCopy:
            return "LZSS match copies a window position the stream has not written";
        case DecodeStatus::LzssNothingProduced:
            return "LZSS stream produces no byte";
        case DecodeStatus::HfNotContainer:
            return "not an HF container";
        case DecodeStatus::HfImpossibleSize:
            return "HF unpacked size is larger than the container can hold";
        case DecodeStatus::HfBlockPastEnd:
            return "HF block reaches past the end of the container";
        case DecodeStatus::HfOvershoot:
            return "HF blocks produce more than the unpacked size";
        case DecodeStatus::HfBadCodeLengths:
            return "HF code lengths are not a usable prefix code";
        case DecodeStatus::HfUnassignedCode:
            return "HF coded data uses a code that is not defined";
        case DecodeStatus::HfCodedDataExhausted:
            return "HF coded data ends before the block is complete";
    }
    return "unknown decode status";
}

}  // namespace morivane
