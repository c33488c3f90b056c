// The SABUNN block-diff script: how a new file is rebuilt from fixed-size units
// of an old file and units carried in the script.
//
// All fields little-endian, packed without alignment:
//   0   u32  new unit count N'  (sum of the run magnitudes; informative only)
//   4   i32  unit size U        (bytes per unit)
//   8   i32  run count R
//   12  u32  copy count K       (run entries > 0)
//   16  u32  literal count L    (units the entries <= 0 take from the pool)
//   20            R x i16  run list, in the order the new file is written
//   20 + 2R       K x u32  offset list, a byte offset into the old image for
//                          each copy run in turn (any alignment, any order)
//   20 + 2R + 4K  L x U    literal pool, used front to back by literal runs
// Run entry r > 0 copies r units from the old image at the next offset;
// r <= 0 takes -r units from the pool where the previous literal run stopped
// (0 writes nothing). The script ends after the pool; nothing beyond is read.
// The offset list may start at an odd multiple of 2, so every field is loaded
// byte-wise at its position.
//
// The word at offset 8 doubles as the HF container's magic: a plain script
// whose run count has 17,992 (0x4648) as its low 16 bits is taken for a
// container by every reader of payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "decode/bytes.h"

namespace morivane {

inline constexpr int kScriptHeaderSize = 20;
// The magnitude of a run entry must fit in 16 bits: -32,768 is refused.
inline constexpr int kScriptMaxRun = 32767;

// The five header fields, one copy of the script's first 20 bytes.
struct ScriptHeader {
    std::uint32_t newUnitCount = 0;
    std::int32_t unitSize = 0;
    std::int32_t runCount = 0;
    std::uint32_t copyCount = 0;
    std::uint32_t literalCount = 0;
};

// Why a script was refused. Everything the rebuild would read must lie inside
// the script; counts that merely disagree with each other are not errors (see
// ScriptSummary::IsConsistent).
enum class ScriptError {
    Ok = 0,
    HeaderTruncated,    // fewer than 20 bytes
    BadUnitSize,        // U <= 0
    NegativeRunCount,   // R < 0
    RunListPastEnd,     // the run list reaches past the end of the bytes
    OffsetListPastEnd,  // the offset list reaches past the end of the bytes
    PoolPastEnd,        // the literal pool reaches past the end of the bytes
    RunTooLong,         // a run entry of -32,768
    TooManyCopyRuns,    // more copy runs than the offset list has entries
    PoolExhausted,      // the literal runs take more units than the pool holds
};

// A short English description of the error, for tools and test output.
const char* ScriptErrorName(ScriptError error);

// Where a refused script goes wrong and by how much, for telling a publisher.
struct ScriptFault {
    ScriptError error = ScriptError::Ok;
    // The run entry at fault, counted from 0 (RunTooLong, TooManyCopyRuns,
    // PoolExhausted); -1 for the others.
    std::int64_t run = -1;
    // What the script needs against what it has: bytes for HeaderTruncated
    // and the three PastEnd errors (where the part ends, the script's size),
    // copy runs against offsets for TooManyCopyRuns, literal units against
    // the pool's units for PoolExhausted.
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
};

// One English sentence: the error's name with the run and the figures.
std::string DescribeScriptFault(const ScriptFault& fault);

// Figures that follow from the run list and the offset list. Sizes are 64-bit
// so that no header, however wild, can overflow them.
struct ScriptSummary {
    std::uint64_t scriptBytes = 0;       // 20 + 2R + 4K + L x U
    std::uint64_t newUnits = 0;          // sum of the run magnitudes
    std::uint64_t newFileBytes = 0;      // newUnits x U
    std::uint64_t copyRuns = 0;          // entries > 0
    std::uint64_t literalRuns = 0;       // entries < 0
    std::uint64_t zeroRuns = 0;          // entries == 0
    std::uint64_t literalUnits = 0;      // units the literal runs take
    std::uint64_t oldBytesNeeded = 0;    // largest offset + r x U of any copy run
    std::int32_t longestCopyRun = 0;     // in units
    std::int32_t longestLiteralRun = 0;  // in units

    // True when the header's counts match what the lists hold: N' equals the
    // sum of the magnitudes, K the number of copy runs, L the literal units.
    // The patcher does not need this; a script writer should guarantee it.
    bool IsConsistent(const ScriptHeader& header) const {
        return header.newUnitCount == newUnits && header.copyCount == copyRuns &&
               header.literalCount == literalUnits;
    }
};

// A validated, read-only view over a script's bytes; the bytes stay the
// caller's and must outlive the view. Every accessor stays inside the bytes.
class ScriptView {
  public:
    ScriptView() = default;

    // Reads the header and checks the whole script against `bytes`: the lists
    // and the pool lie inside, U > 0, R >= 0, no entry is -32,768, the copy
    // runs find their offsets and the literal runs their units. Bytes after
    // the pool are ignored. On success fills *view and returns Ok; otherwise
    // returns the first problem found, with its place in *fault when given,
    // and leaves *view empty.
    static ScriptError Parse(ByteSpan bytes, ScriptView* view, ScriptFault* fault = nullptr);

    const ScriptHeader& Header() const { return header_; }
    const ScriptSummary& Summary() const { return summary_; }

    // Run entry i (0 <= i < R), offset-list entry i (0 <= i < K).
    std::int16_t Run(std::size_t i) const {
        return static_cast<std::int16_t>(LoadLe16(runs_.data() + 2 * i));
    }
    std::uint32_t Offset(std::size_t i) const { return LoadLe32(offsets_.data() + 4 * i); }

    // The raw bytes of the three parts, exactly as stored.
    ByteSpan RunListBytes() const { return runs_; }
    ByteSpan OffsetListBytes() const { return offsets_; }
    ByteSpan PoolBytes() const { return pool_; }

  private:
    ScriptHeader header_;
    ScriptSummary summary_;
    ByteSpan runs_;
    ByteSpan offsets_;
    ByteSpan pool_;
};

// Serialises a script with its header counts taken from the lists: R and K
// from the list sizes, L from the pool's size / U, N' from the run magnitudes.
// The pool's size must be a multiple of U (U > 0); nothing else is checked, so
// a caller can build scripts that ScriptView::Parse refuses.
std::vector<std::uint8_t> EncodeScript(std::int32_t unitSize, std::span<const std::int16_t> runs,
                                       std::span<const std::uint32_t> offsets, ByteSpan pool);

// Serialises a script with an explicit header, whatever its counts say; the
// lists and the pool are written as given.
std::vector<std::uint8_t> EncodeScript(const ScriptHeader& header,
                                       std::span<const std::int16_t> runs,
                                       std::span<const std::uint32_t> offsets, ByteSpan pool);

}  // namespace morivane
