#include "tests/support/decode_inputs.h"

#include <algorithm>

#include "tests/support/bit_writer.h"

namespace morivane::testing {

namespace {

constexpr std::uint32_t kWindow = 4096;

void PutLe32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLe32(const Bytes& in, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
    return v;
}

}  // namespace

LzssSample DecodeInputs::LzssStream(std::size_t tokens, bool anyPosition) {
    BitStream w;
    Bytes produced;
    for (std::size_t t = 0; t < tokens; ++t) {
        const std::size_t count = produced.size();
        if (count == 0 || Below(100) < 40) {
            const auto value = static_cast<std::uint8_t>(Below(4) == 0 ? rng_() : Below(8));
            w.Literal(value);
            produced.push_back(value);
            continue;
        }
        const std::uint32_t length = 2 + Below(16);
        std::uint32_t position = 0;
        if (anyPosition) {
            position = 1 + Below(kWindow - 1);
        } else {
            // Short distances overlap the match's own output; 15..17 sit at
            // the edge of a 16-byte copy; a full window reaches the oldest
            // byte still held.
            const auto reach = static_cast<std::uint32_t>(std::min<std::size_t>(count, kWindow));
            std::uint32_t distance = 0;
            switch (Below(5)) {
                case 0:
                    distance = 1 + Below(std::min(reach, 4u));
                    break;
                case 1:
                    distance = std::min(reach, 15 + Below(3));
                    break;
                case 2:
                    distance = reach;
                    break;
                default:
                    distance = 1 + Below(reach);
            }
            position = static_cast<std::uint32_t>(count + 1 - distance) & (kWindow - 1);
            // Position 0 would be the End token: this distance cannot be said.
            if (position == 0) position = static_cast<std::uint32_t>(count) & (kWindow - 1);
            if (position == 0) position = 1;
        }
        w.Match(position, length);
        // Replay the match as the window defines it: position p holds the
        // byte produced last with index = p - 1 (mod 4096).
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::size_t now = produced.size();
            const std::uint32_t at = (position + i) & (kWindow - 1);
            const std::size_t back = (now + 1 - at) & (kWindow - 1);
            const std::size_t distance = back == 0 ? kWindow : back;
            produced.push_back(distance <= now ? produced[now - distance] : 0);
        }
    }
    const auto tail = static_cast<std::uint8_t>(Below(3) == 0 ? rng_() : 0);
    w.Literal(tail);
    produced.push_back(tail);
    w.End();
    LzssSample sample;
    sample.stream = w.bytes();
    // Bits after End in the last byte, and whole bytes after it, are ignored.
    if (Below(4) == 0) {
        const std::size_t spare = sample.stream.size() * 8 - w.bitCount();
        if (spare > 0) sample.stream.back() |= static_cast<std::uint8_t>(Below(1u << spare));
        sample.stream.push_back(static_cast<std::uint8_t>(rng_()));
    }
    produced.pop_back();
    sample.content = std::move(produced);
    return sample;
}

void DecodeInputs::SplitCodes(std::vector<int>& symbols, std::size_t first, std::size_t last,
                              std::vector<std::uint8_t>& prefix, std::vector<Bytes>& codes,
                              int& holes) {
    const std::size_t n = last - first;
    // A branch left unassigned: the whole group moves one level down. Each
    // hole costs a node, so few are made and only where nodes are spare.
    const bool hole = symbols.size() < 200 && holes < 8 && Below(12) == 0;
    if (n == 1 && !prefix.empty() && !hole) {
        codes[symbols[first]] = prefix;
        return;
    }
    if (n == 1 || hole) {
        ++holes;
        prefix.push_back(static_cast<std::uint8_t>(Below(2)));
        SplitCodes(symbols, first, last, prefix, codes, holes);
        prefix.pop_back();
        return;
    }
    // Lopsided splits now and then make long codes.
    const std::size_t cut =
        Below(4) == 0 ? first + 1 : first + 1 + Below(static_cast<std::uint32_t>(n - 1));
    const auto zero = static_cast<std::uint8_t>(Below(2));
    prefix.push_back(zero);
    SplitCodes(symbols, first, cut, prefix, codes, holes);
    prefix.back() = zero ^ 1;
    SplitCodes(symbols, cut, last, prefix, codes, holes);
    prefix.pop_back();
}

void DecodeInputs::AppendCodedBlock(Bytes& out, ByteSpan block) {
    std::vector<bool> present(256, false);
    for (std::uint8_t b : block) present[b] = true;
    // Spare values that the data never uses.
    if (Below(3) == 0) {
        for (std::uint32_t i = Below(5); i > 0; --i) present[Below(256)] = true;
    }
    std::vector<int> symbols;
    for (int s = 0; s < 256; ++s) {
        if (present[s]) symbols.push_back(s);
    }
    if (symbols.empty()) symbols.push_back(static_cast<int>(Below(256)));
    std::shuffle(symbols.begin(), symbols.end(), rng_);
    std::vector<Bytes> codes(256);
    std::vector<std::uint8_t> prefix;
    int holes = 0;
    SplitCodes(symbols, 0, symbols.size(), prefix, codes, holes);

    BitStream table;
    BitStream coded;
    for (const Bytes& code : codes) {
        for (std::uint8_t bit : code) table.PutBit(bit);
    }
    for (std::uint8_t b : block) {
        for (std::uint8_t bit : codes[b]) coded.PutBit(bit);
    }
    // B may claim more bits than the codes use; the surplus is skipped.
    std::uint32_t bits = static_cast<std::uint32_t>(coded.bitCount());
    if (bits == 0 || Below(5) == 0) bits += 1 + Below(20);
    Bytes data = coded.bytes();
    data.resize((static_cast<std::size_t>(bits) + 7) / 8, 0);

    AppendLe32(out, bits);
    AppendLe32(out, static_cast<std::uint32_t>(block.size()));
    for (const Bytes& code : codes) out.push_back(static_cast<std::uint8_t>(code.size()));
    out.insert(out.end(), table.bytes().begin(), table.bytes().end());
    out.insert(out.end(), data.begin(), data.end());
}

ContainerSample DecodeInputs::Container(ByteSpan content) {
    ContainerSample sample;
    Bytes& out = sample.bytes;
    AppendLe32(out, 0);
    AppendLe32(out, static_cast<std::uint32_t>(content.size()));
    out.push_back('H');
    out.push_back('F');
    out.resize(24, 0);

    // The last block takes what is left; earlier ones a random share, now
    // and then nothing. Blocks after the one that completes the content are
    // empty, and the decoders never reach them.
    const std::uint32_t blocks = 1 + Below(6);
    std::size_t done = 0;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const std::size_t left = content.size() - done;
        std::size_t size = left;
        if (b + 1 < blocks) size = Below(8) == 0 ? 0 : Below(static_cast<std::uint32_t>(left + 1));
        const ByteSpan block = content.subspan(done, size);
        sample.blockStarts.push_back(out.size());
        const bool coded = Below(10) < 7;
        sample.blockCoded.push_back(coded);
        if (coded) {
            AppendCodedBlock(out, block);
        } else {
            AppendLe32(out, 0);
            AppendLe32(out, static_cast<std::uint32_t>(size));
            out.insert(out.end(), block.begin(), block.end());
        }
        done += size;
    }
    PutLe32(out, 0, static_cast<std::uint32_t>(out.size()));
    return sample;
}

Bytes DecodeInputs::RandomBytes(std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng_());
    return out;
}

Bytes DecodeInputs::SkewedBytes(std::size_t n) {
    Bytes out(n);
    const std::uint32_t alphabet = 2 + Below(60);
    for (auto& b : out) b = static_cast<std::uint8_t>(Below(alphabet) * Below(alphabet) % 256);
    return out;
}

Bytes DecodeInputs::Damage(Bytes bytes) {
    for (std::uint32_t hits = 1 + Below(3); hits > 0; --hits) {
        const auto size = static_cast<std::uint32_t>(bytes.size());
        switch (Below(6)) {
            case 0:
                if (size > 0) bytes[Below(size)] ^= static_cast<std::uint8_t>(1u << Below(8));
                break;
            case 1:
                if (size > 0) bytes[Below(size)] = static_cast<std::uint8_t>(rng_());
                break;
            case 2:
                bytes.resize(Below(size + 1));
                break;
            case 3:
                bytes.insert(bytes.begin() + Below(size + 1), static_cast<std::uint8_t>(rng_()));
                break;
            case 4:
                if (size > 0) bytes.erase(bytes.begin() + Below(size));
                break;
            default:
                for (std::uint32_t i = 1 + Below(8); i > 0; --i) {
                    bytes.push_back(static_cast<std::uint8_t>(rng_()));
                }
        }
    }
    return bytes;
}

Bytes DecodeInputs::DamageContainer(const ContainerSample& sample) {
    Bytes bytes = sample.bytes;
    const std::size_t block = Below(static_cast<std::uint32_t>(sample.blockStarts.size()));
    const std::size_t start = sample.blockStarts[block];
    // Small steps find the edges (one byte too many, one bit too few).
    const auto nudge = [&](std::size_t at) {
        const std::uint32_t v = GetLe32(bytes, at);
        const std::uint32_t delta = 1 + Below(3);
        PutLe32(bytes, at, Below(2) == 0 ? v + delta : v - delta);
    };
    switch (Below(5)) {
        case 0:
            nudge(4);  // unpacked size
            break;
        case 1:
            nudge(start);  // B
            break;
        case 2:
            nudge(start + 4);  // N
            break;
        case 3:
            if (sample.blockCoded[block]) {
                std::uint8_t& length = bytes[start + 8 + Below(256)];
                length = static_cast<std::uint8_t>(Below(2) == 0 ? length + 1 : Below(12));
                break;
            }
            [[fallthrough]];
        default:
            return Damage(std::move(bytes));
    }
    return Below(3) == 0 ? Damage(std::move(bytes)) : bytes;
}

}  // namespace morivane::testing
