// Every byte string goes through each decoder and its reference decoder: as
// an LZSS stream, as an HF container, and, so that mutations reach the blocks
// without first having to find the magic, behind a container header of our
// own whose unpacked size is taken from the first two bytes. The two must
// give the same bytes or fail with the same status; any difference aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "tests/support/decode_differential.h"

namespace {

void Check(const std::string& difference) {
    if (difference.empty()) return;
    std::fprintf(stderr, "decoders disagree: %s\n", difference.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morivane;
    Check(testing::DiffAllDecoders({data, size}));
    if (size < 2) return 0;

    std::vector<std::uint8_t> container(kHfHeaderSize, 0);
    StoreLe32(container.data() + 4, LoadLe16(data));
    StoreLe16(container.data() + kHfMagicOffset, kHfMagic);
    container.insert(container.end(), data + 2, data + size);
    Check(testing::DiffHfUnpack(container));
    Check(testing::DiffHfLzssUnpack(container));
    return 0;
}
