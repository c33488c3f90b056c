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
// length never decreases from one position to the next. It is kept as the
// positions where the match changes, which costs a fraction of a table with
// an entry for every position.
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

    std::size_t Size() const { return size_; }
    // Bytes that match from position i on (0: none), never past either file.
    std::uint32_t Length(std::size_t i) const { return At(i).length; }
    // Old-file offset the match at position i starts from; meaningful when
    // Length(i) > 0.
    std::uint32_t Source(std::size_t i) const { return At(i).source; }

    struct Match {
        std::uint32_t length = 0;
        std::uint32_t source = 0;
    };

    // Reads the table front to back, each position in constant time on
    // average: At(i) for i that never decrease from call to call.
    class Reader {
      public:
        explicit Reader(const MatchTable& table) : table_(table) {}
        Match At(std::size_t i);

      private:
        const MatchTable& table_;
        std::size_t next_ = 0;  // the first segment that starts after the last i
    };

  private:
    // Positions from `start` on take their match from one source: position
    // start + d matches length - d bytes from source + d, while d < length and
    // until the next segment starts. Positions before the first segment or
    // past the end of theirs have none. Only where the match changes from one
    // position to the next does the table hold anything.
    struct Segment {
        std::uint32_t start;
        std::uint32_t source;
        std::uint32_t length;
    };
    Match At(std::size_t i) const;
    static Match Within(const Segment& s, std::size_t i);

    std::size_t size_ = 0;
    std::vector<Segment> segments_;
};

// Number of leading bytes on which a and b agree, looking at most n bytes.
std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);

}  // namespace morivane
