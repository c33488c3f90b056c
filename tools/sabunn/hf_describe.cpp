#include "tools/sabunn/hf_describe.h"

#include <algorithm>

#include "decode/hf.h"

namespace morivane {

namespace {

// Why the walk stopped, in the words `sabunn info` prints.
const char* Problem(const HfBlockWalker& walker, const HfBlock& failing) {
    switch (walker.PastEndPart()) {
        case HfBlockPart::Header:
            return "a block header reaches past the end";
        case HfBlockPart::CodeLengths:
            return "a block's code lengths reach past the end";
        case HfBlockPart::CodeTable:
            return "a block's code table reaches past the end";
        case HfBlockPart::Data:
            return failing.Coded() ? "a block's coded data reaches past the end"
                                   : "a stored block reaches past the end";
        case HfBlockPart::None:
            break;
    }
    return DecodeStatusName(walker.Status());
}

HfBlockInfo InfoOf(const HfBlock& block) {
    HfBlockInfo b;
    b.offset = block.offset;
    b.blockBytes = block.end - block.offset;
    b.bits = block.bits;
    b.produced = block.produced;
    b.coded = block.Coded();
    b.dataBytes = block.dataBytes;
    if (!b.coded) return b;
    b.codeBits = block.codeBits;
    b.tableBytes = block.tableBytes;
    for (int s = 0; s < 256; ++s) {
        const int length = block.codeLengths[s];
        if (length == 0) continue;
        b.shortestCode = b.symbols == 0 ? length : std::min(b.shortestCode, length);
        b.longestCode = std::max(b.longestCode, length);
        ++b.symbols;
    }
    return b;
}

}  // namespace

HfDescription HfDescribe(ByteSpan data) {
    HfDescription d;
    HfBlockWalker walker(data);
    if (walker.Status() == DecodeStatus::HfNotContainer) {
        d.problem = "not an HF container";
        return d;
    }
    d.container = true;
    d.declaredSize = LoadLe32(data.data());
    d.unpackedSize = walker.UnpackedSize();
    d.bytesUsed = kHfHeaderSize;
    HfBlock block;
    while (walker.Next(&block)) {
        d.blocks.push_back(InfoOf(block));
        d.bytesUsed = block.end;
    }
    if (walker.Status() != DecodeStatus::Ok) d.problem = Problem(walker, block);
    return d;
}

}  // namespace morivane
