// Any byte string given to the LZSS expander yields either a result or a named
// failure, never an access outside its buffers.
#include <cstdint>
#include <cstdlib>

#include "decode/lzss.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morivane::DecodeStatus status = morivane::DecodeStatus::Ok;
    morivane::ByteBuffer out = morivane::LzssExpand({data, size}, &status);
    if (static_cast<bool>(out) != (status == morivane::DecodeStatus::Ok)) std::abort();
    // Every 17 bits of stream produce at most 17 bytes.
    if (out && static_cast<std::size_t>(out.size()) > size * 8) std::abort();
    return 0;
}
