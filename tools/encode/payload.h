// The compressed payload form: an HF container holding the LZSS stream of a
// script, which HfLzssUnpack turns back into the script.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/bytes.h"
#include "tools/encode/lzss_encode.h"

namespace morivane {

struct PayloadOptions {
    LzssParse parse = LzssParse::Optimal;
    // One Huffman block for the whole stream instead of the split that
    // HfSplitBlocks chooses; each block is still coded or stored, whichever is
    // smaller.
    bool oneBlock = false;
};

// HF(LZSS(script)). By default: optimal LZSS parsing, and the stream cut into
// the Huffman blocks that make the smallest container the split search finds
// (never larger than one block). An empty script gives the container of the
// 3-byte stream that holds only the tail byte and End; it unpacks to a valid,
// empty script. Returns an empty vector only when the script is longer than
// kLzssMaxContent. Deterministic.
std::vector<std::uint8_t> PackPayload(ByteSpan script, const PayloadOptions& options = {});

}  // namespace morivane
