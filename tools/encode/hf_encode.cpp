#include "tools/encode/hf_encode.h"

#include <algorithm>
#include <numeric>
#include <queue>
#include <utility>

#include "decode/hf.h"
#include "tools/encode/bit_writer.h"

namespace morivane {

namespace {

using Counts = std::array<std::uint64_t, 256>;
using Lengths = std::array<std::uint8_t, 256>;

// Plain Huffman lengths for the present values (two or more), by the
// two-queue method: leaves sorted by count, merged nodes created in
// non-decreasing weight order, so the two lightest are always at a queue front.
Lengths HuffmanLengths(const Counts& counts) {
    std::vector<int> leaves;
    for (int s = 0; s < 256; ++s) {
        if (counts[s] > 0) leaves.push_back(s);
    }
    std::stable_sort(leaves.begin(), leaves.end(),
                     [&](int a, int b) { return counts[a] < counts[b]; });
    const std::size_t n = leaves.size();

    // Nodes 0..n-1 are the leaves in sorted order, n.. the merged ones.
    std::vector<std::uint64_t> weight(2 * n - 1);
    std::vector<std::size_t> parent(2 * n - 1, 0);
    for (std::size_t i = 0; i < n; ++i) weight[i] = counts[leaves[i]];
    std::size_t nextLeaf = 0;
    std::size_t nextMerged = n;
    auto takeLightest = [&](std::size_t created) {
        if (nextLeaf < n && (nextMerged >= created || weight[nextLeaf] <= weight[nextMerged])) {
            return nextLeaf++;
        }
        return nextMerged++;
    };
    for (std::size_t created = n; created < 2 * n - 1; ++created) {
        const std::size_t a = takeLightest(created);
        const std::size_t b = takeLightest(created);
        weight[created] = weight[a] + weight[b];
        parent[a] = parent[b] = created;
    }

    // Depths from the root (the last node) down; parents have higher numbers.
    std::vector<std::uint32_t> depth(2 * n - 1, 0);
    for (std::size_t i = 2 * n - 1; i-- > 0;) {
        if (i != 2 * n - 2) depth[i] = depth[parent[i]] + 1;
    }
    Lengths lengths{};
    for (std::size_t i = 0; i < n; ++i) {
        lengths[leaves[i]] = static_cast<std::uint8_t>(std::min<std::uint32_t>(depth[i], 255));
    }
    return lengths;
}

// The codes of a canonical prefix code with the given lengths: values ordered
// by (length, value) receive consecutive codes.
std::array<std::uint32_t, 256> CanonicalCodes(const Lengths& lengths) {
    std::array<int, 256> order;
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return lengths[a] < lengths[b]; });
    std::array<std::uint32_t, 256> codes{};
    std::uint32_t code = 0;
    int previous = 0;
    bool first = true;
    for (int s : order) {
        const int length = lengths[s];
        if (length == 0) continue;
        if (!first) ++code;
        code <<= (length - previous);
        codes[s] = code;
        previous = length;
        first = false;
    }
    return codes;
}

void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t bytes[4];
    StoreLe32(bytes, v);
    out.insert(out.end(), bytes, bytes + 4);
}

// How a block with byte counts `counts` (n bytes in all) is written in `mode`:
// coded with `lengths`, or stored. An empty block is always stored, since
// B = 0 would read as a stored block anyway.
struct BlockCode {
    bool coded = false;
    Lengths lengths{};
    std::uint64_t tableBits = 0;
    std::uint64_t dataBits = 0;
    std::uint64_t bytes = 0;  // the block in the container, header included
};

BlockCode ChooseCode(const Counts& counts, std::uint64_t n, HfBlockMode mode) {
    BlockCode code;
    code.bytes = kHfBlockHeaderSize + n;
    if (n == 0 || mode == HfBlockMode::Stored) return code;
    const Lengths lengths = HfCodeLengths(counts);
    std::uint64_t tableBits = 0;
    std::uint64_t dataBits = 0;
    for (int s = 0; s < 256; ++s) {
        tableBits += lengths[s];
        dataBits += counts[s] * lengths[s];
    }
    const std::uint64_t codedBytes =
        kHfBlockHeaderSize + kHfCodeLengthsSize + (tableBits + 7) / 8 + (dataBits + 7) / 8;
    if (mode == HfBlockMode::Coded || codedBytes < code.bytes) {
        code = {true, lengths, tableBits, dataBits, codedBytes};
    }
    return code;
}

// One block of the container. Stored: u32 0, u32 N, the N bytes. Coded: u32 B,
// u32 N, 256 lengths, the code table, the coded data.
void AppendBlock(std::vector<std::uint8_t>& out, ByteSpan block, HfBlockMode mode) {
    const auto n = static_cast<std::uint32_t>(block.size());
    Counts counts{};
    for (std::uint8_t b : block) ++counts[b];
    const BlockCode code = ChooseCode(counts, n, mode);

    if (!code.coded) {
        AppendLe32(out, 0);
        AppendLe32(out, n);
        out.insert(out.end(), block.begin(), block.end());
        return;
    }

    const Lengths& lengths = code.lengths;
    const std::array<std::uint32_t, 256> codes = CanonicalCodes(lengths);
    AppendLe32(out, static_cast<std::uint32_t>(code.dataBits));  // <= 24 * 2^27 < 2^32
    AppendLe32(out, n);
    out.insert(out.end(), lengths.begin(), lengths.end());
    // The code table and the coded data each end on a byte boundary; `out`
    // passes through the writer and back without being copied.
    out.reserve(out.size() + (code.tableBits + 7) / 8 + (code.dataBits + 7) / 8);
    BitWriter bits(std::move(out));
    for (int s = 0; s < 256; ++s) {
        if (lengths[s] > 0) bits.Put(codes[s], lengths[s]);
    }
    bits.Flush();
    for (std::uint8_t b : block) bits.Put(codes[b], lengths[b]);
    out = bits.Take();
}

// Bytes a block takes in the container, as AppendBlock will write it.
std::uint64_t BlockBytes(const Counts& counts, std::uint64_t n, HfBlockMode mode) {
    return ChooseCode(counts, n, mode).bytes;
}

// Pieces the split search starts from. Small enough to follow the changes of
// statistics in a script (run list, offsets, pools of different content), large
// enough that merging them all costs a few thousand code builds for a
// megabyte-sized stream. Boundary moves later refine down to kFinestStep.
constexpr std::uint32_t kSplitPiece = 4096;
constexpr std::uint32_t kFinestStep = 1;

struct Block {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    Counts counts{};
    std::uint64_t bytes = 0;  // in the container, under the current cost
};

void AddCounts(Counts& into, const Counts& from) {
    for (int s = 0; s < 256; ++s) into[s] += from[s];
}

Counts CountBytes(ByteSpan data) {
    Counts counts{};
    for (std::uint8_t b : data) ++counts[b];
    return counts;
}

class BlockSplitter {
  public:
    BlockSplitter(ByteSpan data, HfBlockMode mode) : data_(data), mode_(mode) {}

    std::vector<std::uint32_t> Run() {
        std::vector<std::uint32_t> fewest = FewestBlocks();
        if (mode_ == HfBlockMode::Stored || data_.size() <= kSplitPiece) return fewest;

        std::vector<Block> blocks;
        for (std::uint64_t at = 0; at < data_.size(); at += kSplitPiece) {
            Block b;
            b.start = at;
            b.size = std::min<std::uint64_t>(kSplitPiece, data_.size() - at);
            b.counts = CountBytes(data_.subspan(at, b.size));
            blocks.push_back(b);
        }
        // Merging under the coded size first groups pieces of similar
        // statistics even where no single piece pays for a table yet (every
        // piece of a stretch that pays only as a whole would otherwise be
        // stored, and stored neighbours merge indifferently). Then the real
        // cost: coded or stored, whichever the mode picks.
        if (mode_ == HfBlockMode::Smaller) {
            blocks = Merge(std::move(blocks), HfBlockMode::Coded);
        }
        blocks = Merge(std::move(blocks), mode_);
        Refine(blocks);
        blocks = Merge(std::move(blocks), mode_);

        std::uint64_t splitBytes = 0;
        std::vector<std::uint32_t> lengths;
        for (const Block& b : blocks) {
            splitBytes += b.bytes;
            lengths.push_back(static_cast<std::uint32_t>(b.size));
        }
        return splitBytes < Bytes(fewest) ? lengths : fewest;
    }

  private:
    // The split HfSplit::Fixed makes with no block size: blocks of the
    // largest allowed size.
    std::vector<std::uint32_t> FewestBlocks() const {
        std::vector<std::uint32_t> lengths;
        std::uint64_t at = 0;
        do {
            const auto n = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(kHfMaxBlockSize, data_.size() - at));
            lengths.push_back(n);
            at += n;
        } while (at < data_.size());
        return lengths;
    }

    std::uint64_t Bytes(const std::vector<std::uint32_t>& lengths) const {
        std::uint64_t total = 0, at = 0;
        for (std::uint32_t n : lengths) {
            total += BlockBytes(CountBytes(data_.subspan(at, n)), n, mode_);
            at += n;
        }
        return total;
    }

    // Merges adjacent blocks, best saving first, while a merge saves bytes
    // under `cost`. Ties go to the leftmost pair, so the result is
    // deterministic.
    static std::vector<Block> Merge(std::vector<Block> blocks, HfBlockMode cost) {
        const std::size_t n = blocks.size();
        for (Block& b : blocks) b.bytes = BlockBytes(b.counts, b.size, cost);
        constexpr std::size_t kEnd = static_cast<std::size_t>(-1);
        std::vector<std::size_t> prev(n), next(n);
        std::vector<std::uint32_t> version(n, 0);
        std::vector<bool> alive(n, true);
        for (std::size_t i = 0; i < n; ++i) {
            prev[i] = i == 0 ? kEnd : i - 1;
            next[i] = i + 1 == n ? kEnd : i + 1;
        }

        struct Candidate {
            std::uint64_t saving;
            std::size_t left;
            std::uint32_t leftVersion, rightVersion;
            std::uint64_t mergedBytes;
            bool operator<(const Candidate& o) const {
                return saving != o.saving ? saving < o.saving : left > o.left;
            }
        };
        std::priority_queue<Candidate> queue;
        auto consider = [&](std::size_t left) {
            if (left == kEnd || next[left] == kEnd) return;
            const Block& a = blocks[left];
            const Block& b = blocks[next[left]];
            if (a.size + b.size > kHfMaxBlockSize) return;
            Counts merged = a.counts;
            AddCounts(merged, b.counts);
            const std::uint64_t bytes = BlockBytes(merged, a.size + b.size, cost);
            if (bytes < a.bytes + b.bytes) {
                queue.push(
                    {a.bytes + b.bytes - bytes, left, version[left], version[next[left]], bytes});
            }
        };
        for (std::size_t i = 0; i + 1 < n; ++i) consider(i);

        while (!queue.empty()) {
            const Candidate c = queue.top();
            queue.pop();
            const std::size_t right = next[c.left];
            // Stale: either side has changed since the saving was measured.
            if (!alive[c.left] || right == kEnd || version[c.left] != c.leftVersion ||
                version[right] != c.rightVersion) {
                continue;
            }
            Block& a = blocks[c.left];
            a.size += blocks[right].size;
            AddCounts(a.counts, blocks[right].counts);
            a.bytes = c.mergedBytes;
            alive[right] = false;
            next[c.left] = next[right];
            if (next[right] != kEnd) prev[next[right]] = c.left;
            ++version[c.left];
            consider(prev[c.left]);
            consider(c.left);
        }

        std::vector<Block> kept;
        for (std::size_t i = 0; i < n; ++i) {
            if (alive[i]) kept.push_back(std::move(blocks[i]));
        }
        return kept;
    }

    // Moves each boundary left or right in steps that halve from half a piece
    // down to kFinestStep, keeping every move that shrinks the two blocks
    // beside it. Blocks keep at least one byte.
    void Refine(std::vector<Block>& blocks) const {
        for (Block& b : blocks) b.bytes = BlockBytes(b.counts, b.size, mode_);
        for (std::uint64_t step = kSplitPiece / 2; step >= kFinestStep; step /= 2) {
            for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
                while (Shift(blocks[i], blocks[i + 1], step, true)) {
                }
                while (Shift(blocks[i], blocks[i + 1], step, false)) {
                }
            }
        }
    }

    // Moves `step` bytes across the boundary between a and b (from a's end to
    // b when `toRight`, else from b's start to a) if that shrinks the pair.
    bool Shift(Block& a, Block& b, std::uint64_t step, bool toRight) const {
        Block& from = toRight ? a : b;
        Block& to = toRight ? b : a;
        if (from.size <= step || to.size + step > kHfMaxBlockSize) return false;
        const std::uint64_t sliceStart = toRight ? a.start + a.size - step : b.start;
        const Counts slice = CountBytes(data_.subspan(sliceStart, step));
        Counts fromCounts = from.counts, toCounts = to.counts;
        for (int s = 0; s < 256; ++s) {
            fromCounts[s] -= slice[s];
            toCounts[s] += slice[s];
        }
        const std::uint64_t fromBytes = BlockBytes(fromCounts, from.size - step, mode_);
        const std::uint64_t toBytes = BlockBytes(toCounts, to.size + step, mode_);
        if (fromBytes + toBytes >= from.bytes + to.bytes) return false;
        from.counts = fromCounts;
        to.counts = toCounts;
        from.bytes = fromBytes;
        to.bytes = toBytes;
        from.size -= step;
        to.size += step;
        if (toRight) {
            b.start -= step;
        } else {
            b.start += step;
        }
        return true;
    }

    ByteSpan data_;
    HfBlockMode mode_;
};

}  // namespace

Lengths HfCodeLengths(const Counts& counts) {
    Lengths lengths{};
    int present = 0;
    int only = 0;
    for (int s = 0; s < 256; ++s) {
        if (counts[s] > 0) {
            ++present;
            only = s;
        }
    }
    if (present == 0) return lengths;
    if (present == 1) {
        lengths[only] = 1;
        return lengths;
    }
    // Skewed counts can make a code longer than the limit. Flattening the
    // counts (halving, keeping every present value present) shortens the
    // longest code each round and ends at worst with all counts 1, whose code
    // is 8 bits at most.
    Counts scaled = counts;
    for (;;) {
        lengths = HuffmanLengths(scaled);
        if (*std::max_element(lengths.begin(), lengths.end()) <= kHfMaxCodeLength) return lengths;
        for (auto& c : scaled) {
            if (c > 0) c = (c + 1) / 2;
        }
    }
}

std::array<std::uint8_t, 256> HfBlockCodeLengths(ByteSpan block, HfBlockMode mode) {
    Counts counts{};
    for (std::uint8_t b : block) ++counts[b];
    const BlockCode code = ChooseCode(counts, block.size(), mode);
    return code.coded ? code.lengths : Lengths{};
}

std::vector<std::uint32_t> HfSplitBlocks(ByteSpan data, HfBlockMode mode) {
    if (data.size() > kHfMaxUnpacked) return {};
    return BlockSplitter(data, mode).Run();
}

std::vector<std::uint8_t> HfPackBlocks(ByteSpan data, std::span<const std::uint32_t> lengths,
                                       HfBlockMode mode) {
    if (data.size() > kHfMaxUnpacked || lengths.empty()) return {};
    std::uint64_t total = 0;
    for (std::uint32_t n : lengths) {
        if (n > kHfMaxBlockSize || (n == 0 && !data.empty())) return {};
        total += n;
    }
    if (total != data.size()) return {};

    std::vector<std::uint8_t> out(kHfHeaderSize, 0);
    StoreLe32(out.data() + 4, static_cast<std::uint32_t>(data.size()));
    StoreLe16(out.data() + kHfMagicOffset, kHfMagic);
    // The decoder stops after the block that completes the unpacked size, and
    // a container holds at least one block: empty data gets one empty block.
    // Lengths that follow a block completing the data would never be read,
    // so only empty data may have a 0 length.
    std::size_t offset = 0;
    for (std::uint32_t n : lengths) {
        AppendBlock(out, data.subspan(offset, n), mode);
        offset += n;
    }
    StoreLe32(out.data(), static_cast<std::uint32_t>(out.size()));
    return out;
}

std::vector<std::uint8_t> HfPack(ByteSpan data, const HfPackOptions& options) {
    if (data.size() > kHfMaxUnpacked) return {};
    if (options.split == HfSplit::Search) {
        return HfPackBlocks(data, HfSplitBlocks(data, options.mode), options.mode);
    }
    std::size_t blockSize = options.blockSize == 0 ? kHfMaxBlockSize : options.blockSize;
    blockSize = std::min<std::size_t>(blockSize, kHfMaxBlockSize);
    std::vector<std::uint32_t> lengths;
    std::size_t offset = 0;
    do {
        const std::size_t n = std::min(blockSize, data.size() - offset);
        lengths.push_back(static_cast<std::uint32_t>(n));
        offset += n;
    } while (offset < data.size());
    return HfPackBlocks(data, lengths, options.mode);
}

}  // namespace morivane
