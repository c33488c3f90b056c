#include "patch/payload.h"

#include "decode/hf.h"
#include "decode/lzss.h"

namespace morivane {

PayloadScript ScriptOfPayload(ByteSpan payload) {
    PayloadScript result;
    result.container = IsHfContainer(payload);
    if (!result.container) {
        result.script = payload;
        return result;
    }
    result.decoded = HfLzssUnpack(payload, &result.status, &result.where);
    if (result.decoded) result.script = result.decoded.span();
    return result;
}

std::string DescribeDecodeFailure(DecodeStatus status, const HfPosition& where) {
    switch (status) {
        case DecodeStatus::Ok:
            return {};
        case DecodeStatus::LzssTruncated:
        case DecodeStatus::LzssUnwrittenCopy:
        case DecodeStatus::LzssNothingProduced:
            return std::string("LZSS stage failed: ") + DecodeStatusName(status);
        case DecodeStatus::OutOfMemory:
            return std::string("decoding failed: ") + DecodeStatusName(status);
        case DecodeStatus::HfNotContainer:
        case DecodeStatus::HfImpossibleSize:
            return std::string("Huffman stage failed: ") + DecodeStatusName(status);
        default:
            // Every other failure of the Huffman stage lies in one block.
            return std::string("Huffman stage failed: ") + DecodeStatusName(status) + " (block " +
                   std::to_string(where.block) + " at byte " + std::to_string(where.offset) + ")";
    }
}

std::string PayloadScript::Failure() const {
    return DescribeDecodeFailure(status, where);
}

}  // namespace morivane
