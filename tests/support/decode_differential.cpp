#include "tests/support/decode_differential.h"

#include <algorithm>

#include "decode/hf.h"
#include "decode/lzss.h"
#include "tests/support/reference_decode.h"

namespace morivane::testing {

namespace {

using Decoder = ByteBuffer (*)(ByteSpan, DecodeStatus*);

std::string Outcome(const ByteBuffer& out, DecodeStatus status) {
    if (!out) return std::string("null (") + DecodeStatusName(status) + ")";
    return std::to_string(out.size()) + " bytes (" + DecodeStatusName(status) + ")";
}

std::string Compare(const char* name, Decoder fast, Decoder reference, ByteSpan input) {
    // Statuses start out different so that a decoder that forgets to set one
    // shows up.
    DecodeStatus fastStatus = DecodeStatus::HfNotContainer;
    DecodeStatus referenceStatus = DecodeStatus::LzssTruncated;
    const ByteBuffer got = fast(input, &fastStatus);
    const ByteBuffer want = reference(input, &referenceStatus);
    const std::string prefix = std::string(name) + " on " + std::to_string(input.size()) +
                               " bytes: got " + Outcome(got, fastStatus) + ", reference " +
                               Outcome(want, referenceStatus);
    if (static_cast<bool>(got) != static_cast<bool>(want) || fastStatus != referenceStatus ||
        got.size() != want.size()) {
        return prefix;
    }
    const ByteSpan a = got.span();
    const ByteSpan b = want.span();
    const auto [at, unused] = std::mismatch(a.begin(), a.end(), b.begin());
    if (at != a.end()) return prefix + ", first difference at " + std::to_string(at - a.begin());
    return {};
}

}  // namespace

std::string DiffLzssExpand(ByteSpan stream) {
    return Compare("LzssExpand", &LzssExpand, &reference::LzssExpand, stream);
}

std::string DiffHfUnpack(ByteSpan container) {
    return Compare("HfUnpack", &HfUnpack, &reference::HfUnpack, container);
}

std::string DiffHfLzssUnpack(ByteSpan container) {
    return Compare("HfLzssUnpack", &HfLzssUnpack, &reference::HfLzssUnpack, container);
}

std::string DiffAllDecoders(ByteSpan input) {
    std::string diff = DiffLzssExpand(input);
    if (diff.empty()) diff = DiffHfUnpack(input);
    if (diff.empty()) diff = DiffHfLzssUnpack(input);
    return diff;
}

}  // namespace morivane::testing
