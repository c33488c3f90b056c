#include "tools/sabunn/payload_io.h"

#include "decode/hf.h"
#include "decode/lzss.h"

namespace morivane::sabunn {

std::optional<std::vector<std::uint8_t>> ScriptOfPayload(ByteSpan payload, std::string* error) {
    if (!IsHfContainer(payload)) return std::vector<std::uint8_t>(payload.begin(), payload.end());

    // The two stages run separately so that a failure names its stage.
    DecodeStatus status = DecodeStatus::Ok;
    const ByteBuffer stream = HfUnpack(payload, &status);
    if (!stream) {
        *error = std::string("Huffman stage failed: ") + DecodeStatusName(status);
        return std::nullopt;
    }
    const ByteBuffer script = LzssExpand(stream.span(), &status);
    if (!script) {
        *error = std::string("LZSS stage failed: ") + DecodeStatusName(status);
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(script.span().begin(), script.span().end());
}

}  // namespace morivane::sabunn
