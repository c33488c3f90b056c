#include "tests/support/decode_differential.h"

#include <algorithm>

#include "decode/hf.h"
#include "decode/lzss.h"
#include "tests/support/reference_decode.h"

namespace morivane::testing {

namespace {

using Decoder = ByteBuffer (*)(ByteSpan, DecodeStatus*);
using Reference = reference::Decoded (*)(reference::Input);

// The difference, if any, and whether both sides succeeded.
struct Comparison {
    std::string difference;
    bool bothSucceeded = false;
};

Comparison Compare(const char* name, Decoder product, Reference reference, ByteSpan input) {
    // The status starts out as a failure so that a decoder that forgets to
    // set it on success shows up.
    DecodeStatus status = DecodeStatus::LzssTruncated;
    const ByteBuffer got = product(input, &status);
    const reference::Decoded want = reference(input);
    const std::string gotText = got ? std::to_string(got.size()) + " bytes"
                                    : std::string("failure (") + DecodeStatusName(status) + ")";
    const std::string wantText = want.ok ? std::to_string(want.bytes.size()) + " bytes"
                                         : "failure (" + want.failure + ")";
    const std::string prefix = std::string(name) + " on " + std::to_string(input.size()) +
                               " bytes: got " + gotText + ", reference " + wantText;
    if (static_cast<bool>(got) != (status == DecodeStatus::Ok)) {
        return {prefix + ", but the status says " + DecodeStatusName(status)};
    }
    if (static_cast<bool>(got) != want.ok) return {prefix};
    if (!got) return {};
    const ByteSpan bytes = got.span();
    if (bytes.size() != want.bytes.size()) return {prefix};
    const auto [at, unused] = std::mismatch(bytes.begin(), bytes.end(), want.bytes.begin());
    if (at != bytes.end()) {
        return {prefix + ", first difference at " + std::to_string(at - bytes.begin())};
    }
    return {{}, true};
}

}  // namespace

std::string DiffLzssExpand(ByteSpan stream) {
    return Compare("LzssExpand", &LzssExpand, &reference::LzssExpand, stream).difference;
}

std::string DiffHfUnpack(ByteSpan container) {
    return Compare("HfUnpack", &HfUnpack, &reference::HfUnpack, container).difference;
}

std::string DiffHfLzssUnpack(ByteSpan container) {
    return Compare("HfLzssUnpack", &HfLzssUnpack, &reference::HfLzssUnpack, container).difference;
}

std::string DiffHfStages(ByteSpan container) {
    const Comparison huffman = Compare("HfUnpack", &HfUnpack, &reference::HfUnpack, container);
    if (!huffman.bothSucceeded) return huffman.difference;
    return DiffHfLzssUnpack(container);
}

std::string DiffAllDecoders(ByteSpan input) {
    const std::string diff = DiffLzssExpand(input);
    return diff.empty() ? DiffHfStages(input) : diff;
}

}  // namespace morivane::testing
