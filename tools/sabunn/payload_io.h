// Turning a payload back into its script, for every command that reads
// payloads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/bytes.h"

namespace morivane::sabunn {

// The script that `payload` carries: for an HF container ("HF" at offset 8)
// the Huffman stage and then LZSS expansion, otherwise the payload itself,
// unchanged. For a damaged container returns nothing and sets *error to the
// stage that failed and why, e.g. "Huffman stage failed: HF block reaches
// past the end of the container".
std::optional<std::vector<std::uint8_t>> ScriptOfPayload(ByteSpan payload, std::string* error);

}  // namespace morivane::sabunn
