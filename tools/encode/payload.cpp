#include "tools/encode/payload.h"

#include "tools/encode/hf_encode.h"

namespace morivane {

std::vector<std::uint8_t> PackPayload(ByteSpan script, const PayloadOptions& options) {
    if (script.size() > kLzssMaxContent) return {};
    const std::vector<std::uint8_t> stream = LzssCompress(script, {.parse = options.parse});
    // A stream is never longer than 9/8 of its text plus a few bytes, but it
    // must still fit the container's size limit.
    if (stream.empty() || stream.size() > kHfMaxUnpacked) return {};
    return HfPack(stream, {.split = options.oneBlock ? HfSplit::Fixed : HfSplit::Search});
}

}  // namespace morivane
