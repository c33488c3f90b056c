// Why a patch failed. The user sees only a message number, and 12 says no
// more than that the update failed; the patcher keeps beside it what was
// wrong (the payload, the script, the old file or the disk) and where, so
// that the publisher's tools can say it.
#pragma once

#include <cstdint>
#include <string>

#include "decode/decode_status.h"
#include "decode/hf.h"
#include "patch/sabunn_script.h"

namespace morivane {

enum class PatchFault {
    None = 0,
    OldFileUnopened,     // 10
    NewFileUncreated,    // 11
    PayloadMissing,      // 12: no payload with the id
    PayloadUndecodable,  // 12, or 13 when out of memory: `decode`, `hf`
    ScriptRefused,       // 12: `script`
    BlockUnallocated,    // 13: `block` of `needed` bytes
    OldFileUnmeasured,   // 12: the old file's length cannot be told
    OldFileTooLarge,     // 13: an old image of `needed` bytes
    OldFileReadShort,    // 12: `had` of `needed` units read
    OldFileTooShort,     // 12: copies reach byte `needed`, the old image `had` bytes; `run`
                         //     is the first copy run past it
    WriteShort,          // 12: run `run` wrote `had` of `needed` units; `laterShortRuns` more
    RunsDisagree,        // 12: the runs add up to `had` units, the header says `needed`
    CloseFailed,         // 12: the new file's last data could not be written
    NothingLoaded,       // 12: Apply without a successful Load
};

// The patcher's four blocks, for BlockUnallocated.
enum class PatchBlock { RunList, OffsetList, LiteralPool, OldImage };

struct PatchCause {
    PatchFault fault = PatchFault::None;
    DecodeStatus decode = DecodeStatus::Ok;  // PayloadUndecodable
    HfPosition hf;                           // PayloadUndecodable, HF statuses
    ScriptFault script;                      // ScriptRefused
    PatchBlock block = PatchBlock::RunList;  // BlockUnallocated
    std::int64_t run = -1;                   // the run entry concerned, from 0
    std::uint64_t needed = 0;
    std::uint64_t had = 0;
    std::uint64_t laterShortRuns = 0;  // WriteShort: runs after `run` that wrote short too
};

// One English sentence for a publisher, for example "the payload's HF block 3
// (at byte 4120) reaches past the end of the container"; empty for None.
std::string DescribePatchCause(const PatchCause& cause);

}  // namespace morivane
