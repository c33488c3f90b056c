// Seeded content for the tests and the benchmarks, all drawn from one
// generator: the kinds of content payloads carry (text, x86 code, runs,
// random bytes, whole SABUNN scripts), plus shapes that stress the LZSS
// window rules. The same seed gives the same bytes on every machine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "patch/sabunn_script.h"

namespace morivane::testdata {

using Bytes = std::vector<std::uint8_t>;

// Raw 32-bit draws only: the engine's output sequence is fixed by the
// standard, unlike the distributions'. Also a uniform random bit generator,
// for std::shuffle.
class Rng {
  public:
    using result_type = std::uint32_t;
    explicit Rng(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t Next() { return static_cast<std::uint32_t>(engine_()); }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 24); }

    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return 0xFFFFFFFFu; }
    result_type operator()() { return Next(); }

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

// Stand-ins for SABUNN scripts: a 20-byte header, a run list, an offset list
// and a literal pool of 32-byte units whose content resembles what an updated
// executable and its data tables carry.
class ScriptGenerator {
  public:
    explicit ScriptGenerator(std::uint32_t seed) : rng_(seed) {}

    // A script with `units` literal units of 32 bytes (about 32 * units bytes).
    std::vector<std::uint8_t> Script(std::uint32_t units) {
        constexpr std::uint32_t kUnit = 32;
        std::vector<std::uint8_t> pool;
        pool.reserve(static_cast<std::size_t>(units) * kUnit);
        // Sections of code, tables and strings, as the files' own layout has.
        while (pool.size() < static_cast<std::size_t>(units) * kUnit) {
            const std::uint32_t sectionUnits = 200 + Below(1800);
            const std::uint32_t kind = Below(10);
            for (std::uint32_t u = 0; u < sectionUnits; ++u) {
                if (kind < 6) {
                    CodeUnit(pool);
                } else if (kind < 9) {
                    TableUnit(pool);
                } else {
                    StringUnit(pool);
                }
            }
        }
        pool.resize(static_cast<std::size_t>(units) * kUnit);

        // Runs alternate between copies from the old file and literal runs
        // that together use up the pool.
        std::vector<std::int16_t> runs;
        std::vector<std::uint32_t> offsets;
        std::uint32_t left = units;
        std::uint32_t oldUnit = 0;
        while (left > 0) {
            const std::int16_t copy = static_cast<std::int16_t>(1 + Below(300));
            runs.push_back(copy);
            oldUnit += Below(400);
            offsets.push_back(oldUnit * kUnit + (Below(8) == 0 ? 16 : 0));
            const std::uint32_t literal = std::min<std::uint32_t>(left, 1 + Below(600));
            runs.push_back(static_cast<std::int16_t>(-static_cast<std::int32_t>(literal)));
            left -= literal;
        }

        return EncodeScript(static_cast<std::int32_t>(kUnit), runs, offsets, pool);
    }

  private:
    std::uint32_t Below(std::uint32_t n) { return rng_.Below(n); }
    std::uint8_t Byte() { return rng_.Byte(); }
    static void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

    // x86 code: a handful of idioms with varying registers, displacements and
    // slowly moving absolute addresses, so short and medium repeats abound.
    void CodeUnit(std::vector<std::uint8_t>& out) {
        const std::size_t end = out.size() + 32;
        while (out.size() < end) {
            switch (Below(10)) {
                case 0:  // push ebp; mov ebp, esp; sub esp, imm8
                    out.insert(out.end(), {0x55, 0x8B, 0xEC, 0x83, 0xEC});
                    out.push_back(static_cast<std::uint8_t>(4 * (1 + Below(16))));
                    break;
                case 1:  // call rel32 to a nearby function
                    out.push_back(0xE8);
                    Put32(out,
                          static_cast<std::uint32_t>(-static_cast<std::int32_t>(Below(0x8000))));
                    break;
                case 2:  // mov reg, [ebp + disp8]
                    out.insert(out.end(), {0x8B, static_cast<std::uint8_t>(0x45 + 8 * Below(8)),
                                           static_cast<std::uint8_t>(0xF0 + 4 * Below(4))});
                    break;
                case 3:  // mov eax, [abs32] with addresses in the data section
                    out.push_back(0xA1);
                    address_ += 4 * Below(16);
                    Put32(out, address_);
                    break;
                case 4:  // push imm32 / push reg
                    if (Below(2)) {
                        out.push_back(0x68);
                        Put32(out, 0x00400000 + (Below(0x4000) << 4));
                    } else {
                        out.push_back(static_cast<std::uint8_t>(0x50 + Below(8)));
                    }
                    break;
                case 5:  // test/jcc
                    out.insert(out.end(), {0x85, 0xC0, static_cast<std::uint8_t>(0x74 + Below(2)),
                                           static_cast<std::uint8_t>(Below(0x40))});
                    break;
                case 6:  // epilogue
                    out.insert(out.end(), {0x5F, 0x5E, 0x5B, 0x8B, 0xE5, 0x5D, 0xC3});
                    break;
                case 7:  // alignment padding
                    out.insert(out.end(), Below(6), 0xCC);
                    break;
                default:  // two-byte register operations
                    out.push_back(static_cast<std::uint8_t>(0x8B + 2 * Below(3)));
                    out.push_back(static_cast<std::uint8_t>(0xC0 | Byte() >> 2));
            }
        }
        out.resize(end);
    }

    // Tables: 16-byte records of an increasing id, a kind from a short list,
    // small coordinates, flags and zero padding.
    void TableUnit(std::vector<std::uint8_t>& out) {
        for (int r = 0; r < 2; ++r) {
            Put32(out, ++record_);
            Put32(out, 1u << Below(6));
            out.push_back(static_cast<std::uint8_t>(Below(64)));
            out.push_back(static_cast<std::uint8_t>(Below(4)));
            out.push_back(static_cast<std::uint8_t>(Below(64)));
            out.push_back(0);
            Put32(out, Below(3) == 0 ? 0xFFFFFFFFu : 0u);
        }
    }

    // Shift-JIS-like strings from a small vocabulary, zero padded.
    void StringUnit(std::vector<std::uint8_t>& out) {
        static const std::uint8_t kWords[][4] = {
            {0x83, 0x41, 0x83, 0x43}, {0x82, 0xA0, 0x82, 0xA2}, {0x8E, 0x9E, 0x8A, 0xD4},
            {0x83, 0x74, 0x83, 0x40}, {0x8D, 0x58, 0x90, 0x56}, {0x83, 0x5F, 0x83, 0x45}};
        const std::size_t end = out.size() + 32;
        const std::uint32_t words = 2 + Below(5);
        for (std::uint32_t w = 0; w < words; ++w) {
            const auto& word = kWords[Below(6)];
            out.insert(out.end(), word, word + 4);
        }
        out.resize(end, 0);
    }

    Rng rng_;
    std::uint32_t address_ = 0x00480000;
    std::uint32_t record_ = 0;
};

}  // namespace morivane::testdata
