// From a payload's stored bytes to the SABUNN script it carries: an HF
// container (decode/hf.h) is unpacked through both stages, anything else is
// the script itself, stored plain. Every reader of payloads goes through here.
#pragma once

#include <string>

#include "decode/bytes.h"
#include "decode/decode_status.h"
#include "decode/hf.h"

namespace morivane {

struct PayloadScript {
    bool container = false;  // the payload was an HF container
    // Ok, or why the container did not decode (then `script` is empty).
    DecodeStatus status = DecodeStatus::Ok;
    HfPosition where;    // the block the Huffman stage stopped in, when it failed
    ByteBuffer decoded;  // the decoded script of a container; the span below points into it
    ByteSpan script;     // the script: the payload's own bytes, or `decoded`

    explicit operator bool() const { return status == DecodeStatus::Ok; }
    // "Huffman stage failed: <why> (block B at byte O)" or "LZSS stage failed:
    // <why>"; empty when the payload decoded.
    std::string Failure() const;
};

// "Huffman stage failed: <why> (block B at byte O)", "LZSS stage failed:
// <why>" or "decoding failed: out of memory"; empty for Ok.
std::string DescribeDecodeFailure(DecodeStatus status, const HfPosition& where);

// The script of `payload`. A plain payload's script is a view of `payload`,
// which must then outlive the result. Never reads outside `payload`.
PayloadScript ScriptOfPayload(ByteSpan payload);

}  // namespace morivane
