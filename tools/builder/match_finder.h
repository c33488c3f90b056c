// Where the new file's bytes can be copied from: for every byte position of
// the new file, one source in the old file and how many bytes match from there.
//
// The old file is indexed by a hash of the 8 bytes at each of its offsets.
// The new file is walked front to back: a match found at position i stays the
// match at i + 1, one byte shorter, as long as it is long; once it runs short
// (or out), the position is searched again among the candidates that share its
// 8-byte key and the offset that continues the last match's displacement (old
// offset minus new position), which also finds shorter matches right after a
// changed byte. Ties go to the candidate nearest that displacement, so that
// consecutive copies come from nearby offsets.
//
// The table this yields has the property the parse relies on: position + match
// length never decreases from one position to the next.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "decode/bytes.h"

namespace morivane {

struct MatchOptions {
    // Candidates with the same key examined per search. More finds longer
    // matches in repetitive files and costs time.
    int maxCandidates = 16;
    // A carried-over match shorter than this is searched again.
    std::uint32_t researchBelow = 16;
    // Where no match is held, only every this many positions look up their
    // key (the continuing displacement is still tried at each); a match found
    // so is extended backwards over the positions skipped. Matches shorter
    // than 8 + step - 1 bytes away from the continuing displacement can be
    // missed.
    std::uint32_t unmatchedStep = 1;
    // Unit sizes the table will be used with: at a position that starts a
    // unit of one of them, a carried-over match shorter than that unit is
    // searched again too, since only whole units can be copied.
    std::span<const std::uint32_t> units = {};
};

class MatchTable {
  public:
    // Finds the matches of every position of `neu` in `old` (both at most
    // 2^31 - 1 bytes long). Deterministic.
    static MatchTable Find(ByteSpan old, ByteSpan neu, const MatchOptions& options = {});

    std::size_t Size() const { return length_.size(); }
    // Bytes that match from position i on (0: none), never past either file.
    std::uint32_t Length(std::size_t i) const { return length_[i]; }
    // Old-file offset the match at position i starts from; meaningful when
    // Length(i) > 0.
    std::uint32_t Source(std::size_t i) const { return source_[i]; }

    // Releases the table's memory.
    void Clear();

  private:
    std::vector<std::uint32_t> source_;
    std::vector<std::uint32_t> length_;
};

// Number of leading bytes on which a and b agree, looking at most n bytes.
std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);

}  // namespace morivane
