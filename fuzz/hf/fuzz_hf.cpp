// Any byte string given to the HF container decoder, and to both stages
// chained, yields either a result of the size the header claims or a named
// failure, never an access outside its buffers or an allocation beyond what
// the input could produce.
#include <cstdint>
#include <cstdlib>

#include "decode/hf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morivane;
    const ByteSpan input{data, size};
    DecodeStatus status = DecodeStatus::Ok;
    ByteBuffer unpacked = HfUnpack(input, &status);
    if (static_cast<bool>(unpacked) != (status == DecodeStatus::Ok)) std::abort();
    if (unpacked && unpacked.size() != HfUnpackedSize(input)) std::abort();
    if (unpacked) {
        ByteBuffer script = HfLzssUnpack(input, &status);
        if (static_cast<bool>(script) != (status == DecodeStatus::Ok)) std::abort();
    }
    return 0;
}
