// The payload decoders as they were first written: one bit per step through
// BitFile for LZSS, one tree step per bit for the HF container. They are kept
// unchanged as the oracle that the product's decoders (decode/lzss.h,
// decode/hf.h) must agree with on every input, damaged ones included: the same
// bytes, or a null buffer with the same DecodeStatus. Tests, fuzz targets and
// the codec benchmark use them; the product never does.
#pragma once

#include "decode/bytes.h"
#include "decode/decode_status.h"

namespace morivane::reference {

// Same contract as morivane::LzssExpand.
ByteBuffer LzssExpand(ByteSpan input, DecodeStatus* status = nullptr);

// Same contract as morivane::HfUnpack.
ByteBuffer HfUnpack(ByteSpan container, DecodeStatus* status = nullptr);

// Same contract as morivane::HfLzssUnpack, with the reference LzssExpand.
ByteBuffer HfLzssUnpack(ByteSpan container, DecodeStatus* status = nullptr);

}  // namespace morivane::reference
