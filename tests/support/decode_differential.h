// Runs a product decoder and its reference (reference_decode.h) on the same
// bytes and says how their outcomes differ. They agree when both fail, or
// both succeed with the same bytes; why each failed is only reported. The
// product's decoder must also be consistent with itself: a null buffer
// exactly when its status is not Ok.
#pragma once

#include <string>

#include "decode/bytes.h"

namespace morivane::testing {

// Empty when the two agree, otherwise a one-line description of the first
// difference (outcomes, lengths, first differing offset).
std::string DiffLzssExpand(ByteSpan stream);
std::string DiffHfUnpack(ByteSpan container);
std::string DiffHfLzssUnpack(ByteSpan container);

// HfUnpack, and HfLzssUnpack as well when the Huffman stage succeeds on both
// sides (when it fails on both, so does the chain).
std::string DiffHfStages(ByteSpan container);

// All three on the same bytes; the first difference found, or empty.
std::string DiffAllDecoders(ByteSpan input);

}  // namespace morivane::testing
