#include "tools/encode/payload.h"

#include <algorithm>
#include <array>

#include "tools/encode/hf_encode.h"

namespace morivane {

namespace {

std::vector<std::uint32_t> BlockLengths(ByteSpan stream, bool oneBlock) {
    if (!oneBlock) return HfSplitBlocks(stream);
    std::vector<std::uint32_t> lengths;
    std::size_t at = 0;
    do {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::size_t>(kHfMaxBlockSize, stream.size() - at));
        lengths.push_back(n);
        at += n;
    } while (at < stream.size());
    return lengths;
}

// Charges every stream byte's cost in the container to the part that holds
// the byte's first bit.
void AccountContainer(ByteSpan stream, std::span<const std::uint32_t> lengths,
                      const LzssEncodeStats& lzss, PayloadAccount& account) {
    std::vector<std::uint64_t> partEndBits;
    std::uint64_t bit = 0;
    for (std::uint64_t b : lzss.partBits) partEndBits.push_back(bit += b);
    std::vector<std::uint64_t> costBits(account.parts.size() + 1, 0);  // last: the rest
    std::size_t at = 0, part = 0;
    for (std::uint32_t n : lengths) {
        const ByteSpan block = stream.subspan(at, n);
        const std::array<std::uint8_t, 256> code = HfBlockCodeLengths(block);
        const bool coded = code != std::array<std::uint8_t, 256>{};
        ++account.blocks;
        if (coded) ++account.codedBlocks;
        for (std::size_t k = 0; k < n; ++k) {
            while (part < partEndBits.size() && 8 * (at + k) >= partEndBits[part]) ++part;
            costBits[part] += coded ? code[block[k]] : 8;
        }
        at += n;
    }
    double charged = 0;
    for (std::size_t p = 0; p < account.parts.size(); ++p) {
        account.parts[p].containerBytes = static_cast<double>(costBits[p]) / 8;
        charged += account.parts[p].containerBytes;
    }
    account.otherContainerBytes = static_cast<double>(account.containerBytes) - charged;
}

}  // namespace

std::vector<std::uint8_t> PackPayload(ByteSpan script, const PayloadOptions& options) {
    return PackPayload(script, options, {}, nullptr);
}

std::vector<std::uint8_t> PackPayload(ByteSpan script, const PayloadOptions& options,
                                      std::span<const std::size_t> partEnds,
                                      PayloadAccount* account) {
    if (script.size() > kLzssMaxContent) return {};
    LzssEncodeStats stats;
    const std::vector<std::uint8_t> stream =
        LzssCompress(script, {.parse = options.parse, .partEnds = partEnds}, &stats);
    // A stream is never longer than 9/8 of its text plus a few bytes, but it
    // must still fit the container's size limit.
    if (stream.empty() || stream.size() > kHfMaxUnpacked) return {};
    const std::vector<std::uint32_t> lengths = BlockLengths(stream, options.oneBlock);
    std::vector<std::uint8_t> payload = HfPackBlocks(stream, lengths);
    if (account != nullptr && !payload.empty()) {
        *account = PayloadAccount{};
        account->streamBytes = stream.size();
        account->containerBytes = payload.size();
        std::size_t begin = 0;
        double charged = 0;
        for (std::size_t p = 0; p < partEnds.size(); ++p) {
            PartFigures figures;
            figures.scriptBytes = partEnds[p] - begin;
            figures.streamBytes = static_cast<double>(stats.partBits[p]) / 8;
            charged += figures.streamBytes;
            account->parts.push_back(figures);
            begin = partEnds[p];
        }
        account->otherStreamBytes = static_cast<double>(stream.size()) - charged;
        AccountContainer(stream, lengths, stats, *account);
    }
    return payload;
}

}  // namespace morivane
