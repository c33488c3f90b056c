// The demo product's content: an old and a new version of each of its four
// data files, and the old and new bulk resource of its executable. Everything
// is generated from fixed seeds with integer arithmetic only, so every machine
// produces the same bytes.
//
// Each new file is put together from two sources, the way an edited file
// relates to its predecessor: copies of stretches of the old file (taken at
// byte offsets that need not be unit-aligned, some of them 16 bytes into a
// unit, some repeated, some straight after one another from unrelated places)
// and fresh content of the same kind, which the update has to carry itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morivane::demo {

using Bytes = std::vector<std::uint8_t>;

// splitmix64: fully specified, so the sequence is the same everywhere.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform enough for content: n must be > 0.
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

  private:
    std::uint64_t state_;
};

// Content generators. Each returns exactly `size` bytes. Every 32-byte window
// of their output carries enough random bits that two independent streams
// share no window by chance.

// Fixed-size binary records (48 bytes: ids, kinds, coordinates, values, an
// ASCII name padded with zeros, a checksum), ids counting up from `firstId`.
Bytes Records(std::size_t size, std::uint64_t seed, std::uint32_t firstId);
// Script-like text in code page 932: numbered lines of kana and kanji between
// corner brackets, ASCII commands, CR LF line ends.
Bytes Text(std::size_t size, std::uint64_t seed, std::uint32_t firstLine);
// 8-bit pixel rows of `width` bytes: gradients and bands with noise.
Bytes Image(std::size_t size, std::uint64_t seed, std::size_t width);
// x86-flavoured code: prologues, calls, moves with displacements, jumps,
// address tables and short padding.
Bytes MachineCode(std::size_t size, std::uint64_t seed);

// One piece of a new file: a copy of `units` units from byte `offset` of the
// old file, or `units` units of fresh content.
struct Segment {
    bool copy = false;
    std::size_t units = 0;
    std::size_t offset = 0;
};

// The new file that `segments` describe; fresh units are taken from `fresh`
// front to back (it must hold enough of them).
Bytes Compose(const Bytes& old, const Bytes& fresh, const std::vector<Segment>& segments,
              std::size_t unit = 32);

// One file of the update (its row of kUpdateFiles) in the old and the new
// version.
struct DemoFile {
    int row = 0;
    Bytes oldBytes;
    Bytes newBytes;
};

// The file of row `row` relative to the product's directory, '/' separated.
std::string PathOf(int row);

// The four data files, rows 1 to 4 in update order: item tables, scenario
// text, effect images, background images.
std::vector<DemoFile> DataFiles();

// The executable's bulk resource in the old and the new build (row 0).
// `newSize` is the new resource's length; the old one is somewhat shorter.
DemoFile ExecutableResource(std::size_t newSize);

}  // namespace morivane::demo
