// Runs a product decoder and its reference (reference_decode.h) on the same
// bytes and says how their outcomes differ. Both must give the same bytes, or
// both a null buffer with the same DecodeStatus.
#pragma once

#include <string>

#include "decode/bytes.h"

namespace morivane::testing {

// Empty when the two agree, otherwise a one-line description of the first
// difference (statuses, lengths, first differing offset).
std::string DiffLzssExpand(ByteSpan stream);
std::string DiffHfUnpack(ByteSpan container);
std::string DiffHfLzssUnpack(ByteSpan container);

// All three on the same bytes; the first difference found, or empty.
std::string DiffAllDecoders(ByteSpan input);

}  // namespace morivane::testing
