#include "patch/hf_describe.h"

#include <algorithm>

#include "decode/hf.h"

namespace morivane {

HfDescription HfDescribe(ByteSpan data) {
    HfDescription d;
    if (!IsHfContainer(data) || data.size() < kHfHeaderSize) {
        d.problem = "not an HF container";
        return d;
    }
    d.container = true;
    const std::uint8_t* base = data.data();
    const std::uint64_t size = data.size();
    d.declaredSize = LoadLe32(base);
    d.unpackedSize = LoadLe32(base + 4);

    std::uint64_t offset = kHfHeaderSize;
    std::uint64_t total = 0;
    d.bytesUsed = offset;
    do {
        HfBlockInfo b;
        b.offset = offset;
        if (size - offset < kHfBlockHeaderSize) {
            d.problem = "a block header reaches past the end";
            return d;
        }
        b.bits = LoadLe32(base + offset);
        b.produced = LoadLe32(base + offset + 4);
        std::uint64_t at = offset + kHfBlockHeaderSize;
        if (b.bits == 0) {
            b.dataBytes = b.produced;
        } else {
            b.coded = true;
            if (size - at < kHfCodeLengthsSize) {
                d.problem = "a block's code lengths reach past the end";
                return d;
            }
            for (int s = 0; s < 256; ++s) {
                const int length = base[at + s];
                if (length == 0) continue;
                b.codeBits += length;
                b.shortestCode = b.symbols == 0 ? length : std::min(b.shortestCode, length);
                b.longestCode = std::max(b.longestCode, length);
                ++b.symbols;
            }
            b.tableBytes = (b.codeBits + 7) / 8;
            at += kHfCodeLengthsSize;
            if (size - at < b.tableBytes) {
                d.problem = "a block's code table reaches past the end";
                return d;
            }
            at += b.tableBytes;
            b.dataBytes = (static_cast<std::uint64_t>(b.bits) + 7) / 8;
        }
        if (size - at < b.dataBytes) {
            d.problem = b.coded ? "a block's coded data reaches past the end"
                                : "a stored block reaches past the end";
            return d;
        }
        offset = at + b.dataBytes;
        b.blockBytes = offset - b.offset;
        d.blocks.push_back(b);
        d.bytesUsed = offset;
        total += b.produced;
        if (total > d.unpackedSize) {
            d.problem = "the blocks produce more than the unpacked size";
            return d;
        }
    } while (total < d.unpackedSize);
    return d;
}

}  // namespace morivane
