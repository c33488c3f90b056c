#include "tests/support/reference_decode.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "tests/support/reference_bitfile.h"

namespace morivane::reference {

namespace {

Decoded Failed(std::string why) {
    Decoded d;
    d.failure = std::move(why);
    return d;
}

Decoded Succeeded(std::vector<std::uint8_t> bytes) {
    Decoded d;
    d.ok = true;
    d.bytes = std::move(bytes);
    return d;
}

struct FreeSource {
    void operator()(BitFile* f) const { FreeBitFile(f); }
};
struct DiscardSink {
    void operator()(BitFile* f) const { DiscardBitFile(f); }
};
using Source = std::unique_ptr<BitFile, FreeSource>;
using Sink = std::unique_ptr<BitFile, DiscardSink>;

// A source over read-only bytes: BitFile is one record for both roles, so its
// pointers are not const, but a source only ever reads through them.
Source OpenSource(const std::uint8_t* bytes, std::uint32_t size) {
    return Source(OpenBitFile(const_cast<std::uint8_t*>(bytes), size));
}

// ---- LZSS -------------------------------------------------------------------

// Tokens: 1 + 8-bit literal; 0 + 12-bit window position + 4-bit length code
// n, copying n + 2 bytes; 0 + position 0, the end. Every byte produced goes
// to the window at the current position, which starts at 1 and wraps at 4096.
class LzssWindow {
  public:
    // Appends `byte` to the output and to the window; false when the output
    // cannot grow.
    bool Produce(std::uint8_t byte, BitFile* sink) {
        if (PutByte(byte, sink) == -1) return false;
        bytes_[current_] = byte;
        written_[current_] = true;
        current_ = (current_ + 1) % 4096;
        return true;
    }
    // The byte at window position `at`, or -1 when this expansion has never
    // written there. A sound stream never copies such a position, and nothing
    // that an earlier expansion left behind may stand in for it.
    int At(std::uint32_t at) const { return written_[at] ? bytes_[at] : -1; }

  private:
    std::uint8_t bytes_[4096] = {};
    bool written_[4096] = {};
    std::uint32_t current_ = 1;
};

// The token loop; false when the stream is refused, with *why set.
bool ExpandTokens(BitFile* source, BitFile* sink, std::string* why) {
    auto window = std::make_unique<LzssWindow>();
    for (;;) {
        if (InputBit(source) == 1) {
            if (!window->Produce(static_cast<std::uint8_t>(ReadBits(source, 8)), sink)) {
                *why = "out of memory";
                return false;
            }
            continue;
        }
        const std::uint32_t position = ReadBits(source, 12);
        if (position == 0) return true;
        const std::uint32_t lengthCode = ReadBits(source, 4);
        for (std::uint32_t i = 0; i < lengthCode + 2; ++i) {
            const int byte = window->At((position + i) % 4096);
            if (byte < 0) {
                *why = "copy from a window position not yet written";
                return false;
            }
            if (!window->Produce(static_cast<std::uint8_t>(byte), sink)) {
                *why = "out of memory";
                return false;
            }
        }
    }
}

// ---- HF container ---------------------------------------------------------

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::int32_t kUnassigned = 0x7FFF;
constexpr std::int32_t kLastNode = 511;

// The decoding tree: one table of 1024 entries, where a 1 bit leads from each
// of the 512 node numbers, then where a 0 bit leads. An entry is a node
// number, a leaf (byte value - 256) or kUnassigned.
struct Tree {
    std::int32_t entries[1024];
    std::int32_t counter;

    std::int32_t& Branch(int bit, std::int32_t node) { return entries[(1 - bit) * 512 + node]; }
    std::int32_t Branch(int bit, std::int32_t node) const {
        return entries[(1 - bit) * 512 + node];
    }
};

// The codes of the values present, each as its string of '0' and '1' (codes
// may be 255 bits long, longer than any integer); false when the table's bits
// run out or no reader can be had.
bool ReadCodes(const std::uint8_t* lengths, const std::uint8_t* table, std::uint32_t tableBytes,
               std::vector<std::string>* codes) {
    codes->assign(256, std::string());
    Source bits = OpenSource(table, tableBytes);
    if (!bits) return false;
    try {
        for (int s = 0; s < 256; ++s) {
            std::string& code = (*codes)[s];
            code.resize(lengths[s]);
            for (char& bit : code) bit = InputBit(bits.get()) == 1 ? '1' : '0';
        }
    } catch (const InputBitFatal&) {
        return false;
    }
    return true;
}

// True when no code is a prefix of another (or equal to it). Sorted, every
// string that begins with a code comes straight after it, so neighbours
// suffice.
bool IsPrefixFree(std::vector<std::string> codes) {
    std::erase(codes, std::string());
    std::sort(codes.begin(), codes.end());
    for (std::size_t i = 1; i < codes.size(); ++i) {
        if (codes[i].starts_with(codes[i - 1])) return false;
    }
    return true;
}

// Builds the tree: each present value in increasing order walks its code from
// the root, numbering every unassigned entry it meets with the next counter
// value, and its last entry becomes its leaf. False when a node number above
// 511 would be needed.
bool BuildTree(const std::vector<std::string>& codes, Tree* tree) {
    std::fill(std::begin(tree->entries), std::end(tree->entries), kUnassigned);
    tree->counter = 0;
    for (int s = 0; s < 256; ++s) {
        if (codes[s].empty()) continue;
        std::int32_t node = 0;
        std::int32_t* entry = nullptr;
        for (char bit : codes[s]) {
            if (node < 0) return false;  // through a leaf: ruled out by the prefix check
            entry = &tree->Branch(bit == '1' ? 1 : 0, node);
            if (*entry == kUnassigned) {
                if (tree->counter == kLastNode) return false;
                *entry = ++tree->counter;
            }
            node = *entry;
        }
        *entry = s - 256;
    }
    return true;
}

// Bounds of one block, taken from the container: `size` bytes from `at`.
struct Container {
    const std::uint8_t* bytes;
    std::uint64_t size;
    bool Holds(std::uint64_t at, std::uint64_t count) const {
        return at <= size && count <= size - at;
    }
};

// Decodes `count` bytes from `data` with the tree, one step per bit, onto
// `out`; false, with *why, when the data runs out or takes an unassigned
// branch.
bool DecodeCoded(const Tree& tree, const std::uint8_t* data, std::uint64_t dataBytes,
                 std::uint32_t count, std::vector<std::uint8_t>* out, std::string* why) {
    Source bits = OpenSource(data, static_cast<std::uint32_t>(dataBytes));
    if (!bits) {
        *why = "out of memory";
        return false;
    }
    try {
        for (std::uint32_t i = 0; i < count; ++i) {
            std::int32_t node = 0;
            while (node >= 0) {
                node = tree.Branch(InputBit(bits.get()), node);
                if (node == kUnassigned) {
                    *why = "coded data takes an unassigned branch";
                    return false;
                }
            }
            out->push_back(static_cast<std::uint8_t>(node & 0xFF));
        }
    } catch (const InputBitFatal&) {
        *why = "coded data ends before the block's bytes";
        return false;
    }
    return true;
}

}  // namespace

Decoded LzssExpand(Input stream) {
    if (stream.size() > 0x7FFFFFFF) return Failed("stream too long");
    const auto length = static_cast<std::uint32_t>(stream.size());
    // The output starts at the input's size (one byte at least, so that
    // malloc has something to give) and grows 4096 bytes at a time.
    auto* first = static_cast<std::uint8_t*>(std::malloc(length == 0 ? 1 : length));
    if (first == nullptr) return Failed("out of memory");
    Sink sink(OpenBitFile(first, length));
    if (!sink) {
        std::free(first);
        return Failed("out of memory");
    }
    Source source = OpenSource(stream.data(), length);
    if (!source) return Failed("out of memory");

    std::string why;
    try {
        if (!ExpandTokens(source.get(), sink.get(), &why)) return Failed(why);
    } catch (const InputBitFatal&) {
        return Failed("stream ends before its End token");
    }
    const SinkBytes result = CloseBitFile(sink.release());
    if (result.data == nullptr) return Failed("stream produces no byte");
    std::vector<std::uint8_t> bytes(result.data, result.data + result.length);
    std::free(result.data);
    return Succeeded(std::move(bytes));
}

Decoded HfUnpack(Input container) {
    const Container c{container.data(), container.size()};
    if (!c.Holds(0, 24) || c.bytes[8] != 'H' || c.bytes[9] != 'F') {
        return Failed("no HF container header");
    }
    const std::uint32_t unpacked = Le32(c.bytes + 4);

    // The output grows with what the blocks produce, never by what the header
    // claims, so a false claim costs nothing before the blocks refute it.
    std::vector<std::uint8_t> out;
    auto tree = std::make_unique<Tree>();
    std::uint64_t at = 24;
    do {
        if (!c.Holds(at, 8)) return Failed("block header past the end");
        const std::uint32_t bits = Le32(c.bytes + at);
        const std::uint32_t produced = Le32(c.bytes + at + 4);
        at += 8;
        if (out.size() + produced > unpacked) return Failed("blocks produce too many bytes");

        if (bits == 0) {
            if (!c.Holds(at, produced)) return Failed("stored bytes past the end");
            out.insert(out.end(), c.bytes + at, c.bytes + at + produced);
            at += produced;
            continue;
        }
        if (!c.Holds(at, 256)) return Failed("code lengths past the end");
        const std::uint8_t* lengths = c.bytes + at;
        at += 256;
        std::uint32_t codeBits = 0;
        for (int s = 0; s < 256; ++s) codeBits += lengths[s];
        const std::uint32_t tableBytes = (codeBits + 7) / 8;
        if (!c.Holds(at, tableBytes)) return Failed("code table past the end");
        std::vector<std::string> codes;
        if (!ReadCodes(lengths, c.bytes + at, tableBytes, &codes)) {
            return Failed("code table cannot be read");
        }
        at += tableBytes;
        const std::uint64_t dataBytes = (static_cast<std::uint64_t>(bits) + 7) / 8;
        if (!c.Holds(at, dataBytes)) return Failed("coded data past the end");

        if (!IsPrefixFree(codes)) return Failed("codes are no prefix code");
        if (!BuildTree(codes, tree.get())) return Failed("codes need node numbers above 511");
        std::string why;
        if (!DecodeCoded(*tree, c.bytes + at, dataBytes, produced, &out, &why)) return Failed(why);
        at += dataBytes;
    } while (out.size() < unpacked);
    return Succeeded(std::move(out));
}

Decoded HfLzssUnpack(Input container) {
    const Decoded stream = HfUnpack(container);
    if (!stream.ok) return stream;
    return LzssExpand(stream.bytes);
}

}  // namespace morivane::reference
