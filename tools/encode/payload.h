// The compressed payload form: an HF container holding the LZSS stream of a
// script, which HfLzssUnpack turns back into the script.
#pragma once

#include <cstdint>
#include <span>
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

// Where the bytes of a payload go, for one part of the script.
struct PartFigures {
    std::uint64_t scriptBytes = 0;  // in the script
    double streamBytes = 0;         // its LZSS tokens
    double containerBytes = 0;      // those tokens' bytes in the container's blocks
};

// Where the bytes of a payload go.
struct PayloadAccount {
    std::vector<PartFigures> parts;  // one per part asked for
    // The rest of the stream (the tail byte, End, the last byte's padding) and
    // of the container (its header, block headers, code tables, padding).
    double otherStreamBytes = 0;
    double otherContainerBytes = 0;
    std::uint64_t streamBytes = 0;
    std::uint64_t containerBytes = 0;
    std::size_t blocks = 0;
    std::size_t codedBlocks = 0;
};

// PackPayload, also telling where the bytes go for the script cut into parts
// that end at `partEnds` (increasing). A stream byte belongs to the part whose
// tokens hold its first bit; a coded byte costs its code's length, a stored one
// 8 bits. The payload is the same as PackPayload's.
std::vector<std::uint8_t> PackPayload(ByteSpan script, const PayloadOptions& options,
                                      std::span<const std::size_t> partEnds,
                                      PayloadAccount* account);

}  // namespace morivane
