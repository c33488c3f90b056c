// Deterministic sample data for the encoder and command-line tests: the kinds
// of content payloads carry, plus shapes that stress the LZSS window rules.
#pragma once

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace morivane::testdata {

using Bytes = std::vector<std::uint8_t>;

// Raw 32-bit draws only: the engine's output sequence is fixed by the
// standard, unlike the distributions'.
class Rng {
  public:
    explicit Rng(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t Next() { return static_cast<std::uint32_t>(engine_()); }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 24); }

  private:
    std::mt19937 engine_;
};

inline Bytes Text(std::size_t size, std::uint32_t seed = 1) {
    static const char* const kWords[] = {"the",     "update",   "file", "window", "unit",  "copy",
                                         "literal", "offset",   "run",  "of",     "and",   "new",
                                         "old",     "Morivane", "data", "table",  "block", "in",
                                         "version", "stream",   "code", "to",     "a",     "with"};
    Rng rng(seed);
    Bytes out;
    while (out.size() < size) {
        const std::string word = kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
        out.insert(out.end(), word.begin(), word.end());
        out.push_back(rng.Below(9) == 0 ? '\n' : ' ');
    }
    out.resize(size);
    return out;
}

// x86-flavoured bytes: frequent opcodes, prologues, little-endian addresses
// that drift slowly, and zero padding.
inline Bytes MachineCode(std::size_t size, std::uint32_t seed = 2) {
    static const std::uint8_t kOps[] = {0x8B, 0x89, 0x83, 0xE8, 0xFF, 0x50, 0x51,
                                        0x52, 0x56, 0x57, 0x5E, 0x5F, 0xC3, 0x74,
                                        0x75, 0xEB, 0x33, 0x85, 0x0F, 0x8D, 0x6A};
    Rng rng(seed);
    Bytes out;
    std::uint32_t address = 0x00401000;
    while (out.size() < size) {
        switch (rng.Below(6)) {
            case 0:  // prologue
                out.insert(out.end(), {0x55, 0x8B, 0xEC, 0x83, 0xEC});
                out.push_back(static_cast<std::uint8_t>(rng.Below(8) * 4));
                break;
            case 1: {  // call/mov with an absolute address
                out.push_back(kOps[rng.Below(sizeof kOps)]);
                address += rng.Below(64);
                for (int i = 0; i < 4; ++i)
                    out.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
                break;
            }
            case 2:  // padding between functions
                out.insert(out.end(), rng.Below(12), 0x00);
                break;
            default:
                out.push_back(kOps[rng.Below(sizeof kOps)]);
                out.push_back(static_cast<std::uint8_t>(0xC0 | rng.Below(64)));
                if (rng.Below(2)) out.push_back(rng.Byte());
        }
    }
    out.resize(size);
    return out;
}

inline Bytes Runs(std::size_t size, std::uint32_t seed = 3) {
    Rng rng(seed);
    Bytes out;
    while (out.size() < size) out.insert(out.end(), 1 + rng.Below(5000), rng.Byte());
    out.resize(size);
    return out;
}

inline Bytes Random(std::size_t size, std::uint32_t seed = 4) {
    Rng rng(seed);
    Bytes out(size);
    for (auto& b : out) b = rng.Byte();
    return out;
}

// Every byte value, in shuffled rounds, so literals of all 256 values occur.
inline Bytes AllValues(std::size_t rounds, std::uint32_t seed = 5) {
    Rng rng(seed);
    Bytes out;
    for (std::size_t r = 0; r < rounds; ++r) {
        Bytes round(256);
        for (int v = 0; v < 256; ++v) round[v] = static_cast<std::uint8_t>(v);
        for (int i = 255; i > 0; --i) std::swap(round[i], round[rng.Below(i + 1)]);
        out.insert(out.end(), round.begin(), round.end());
    }
    return out;
}

// Random bytes repeating with a period of exactly 4096: the only matches are
// as far back as the window reaches.
inline Bytes Period4096(std::size_t size, std::uint32_t seed = 6) {
    const Bytes period = Random(4096, seed);
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = period[i % 4096];
    return out;
}

// Random bytes in which the 17 bytes starting at index 4095 (the one byte a
// match may never start from: it sits at window index 0) reappear at 5000.
// The nearest other source shares only a suffix, so an encoder that ignores
// the rule would pick 4095 and break the stream.
inline Bytes WindowZeroTrap(std::uint32_t seed = 7) {
    Bytes out = Random(9000, seed);
    for (int i = 0; i < 17; ++i) out[5000 + i] = out[4095 + i];
    return out;
}

// A named sample for parameterised round trips; printed by name only.
struct Sample {
    std::string name;
    Bytes data;
    friend void PrintTo(const Sample& s, std::ostream* os) { *os << s.name; }
};

inline std::vector<Sample> Samples() {
    return {
        {"Empty", {}},
        {"OneByte", {0x41}},
        {"OneZeroByte", {0x00}},
        {"TwoBytes", {0x12, 0x12}},
        {"Text", Text(20000)},
        {"MachineCode", MachineCode(30000)},
        {"LongRuns", Runs(40000)},
        {"Random", Random(10000)},
        {"AllValues", AllValues(40)},
        {"LongerThanWindow", Text(100000, 11)},
        {"Period4096", Period4096(20000)},
        {"WindowZeroTrap", WindowZeroTrap()},
        {"Zeros", Bytes(70000, 0x00)},
    };
}

}  // namespace morivane::testdata
