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
    result.decoded = HfLzssUnpack(payload, &result.status);
    if (result.decoded) result.script = result.decoded.span();
    return result;
}

std::string PayloadScript::Failure() const {
    switch (status) {
        case DecodeStatus::Ok:
            return {};
        case DecodeStatus::LzssTruncated:
        case DecodeStatus::LzssUnwrittenCopy:
        case DecodeStatus::LzssNothingProduced:
            return std::string("LZSS stage failed: ") + DecodeStatusName(status);
        case DecodeStatus::OutOfMemory:
            return std::string("decoding failed: ") + DecodeStatusName(status);
        default:
            return std::string("Huffman stage failed: ") + DecodeStatusName(status);
    }
}

}  // namespace morivane
