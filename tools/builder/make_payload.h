// `sabunn make`'s work apart from files and arguments: the payload for an old
// and a new file, in the stored form asked for, or a message that tells the
// publisher what to change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/bytes.h"
#include "tools/builder/script_builder.h"
#include "tools/encode/payload.h"

namespace morivane {

// The largest unit size tried when none is asked for.
inline constexpr int kMaxChosenUnit = 32;

// How a payload holds its script.
enum class StoredForm {
    Smaller,  // HF(LZSS(script)), or the script itself when that is smaller
    Plain,    // the script itself
    Packed,   // HF(LZSS(script)), even when that is larger
};

struct MakeOptions {
    // Bytes per unit; 0 chooses among the sizes that divide the new file's
    // length (see MakePayload).
    int unit = 0;
    StoredForm form = StoredForm::Smaller;
    // With StoredForm::Plain, let the builder change the run count by one when
    // it would read as the HF magic (BuildOptions::plainStorable). Without it
    // such a script is refused.
    bool adjustRunCount = true;
};

enum class MakeStatus {
    Ok = 0,
    BadUnit,
    NewNotWholeUnits,
    TooLarge,
    PlainLooksLikeHf,  // a plain script whose run count's low 16 bits are 0x4648
    PackFailed,        // the encoders refused the script (longer than they take)
    SelfCheckFailed,   // the payload does not rebuild the new file (a defect here)
};

// One plan considered: its unit size and cost model, what the model expected,
// and the payload's size when one was made of it (0 when the estimate ruled
// it out).
struct UnitTrial {
    std::uint32_t unit = 0;
    // The model priced pool bytes by how the new file compresses around them
    // (EstimateLiteralCosts) rather than at a flat rate.
    bool poolCompresses = false;
    double estimatedBytes = 0;
    std::size_t payloadBytes = 0;
    bool kept = false;
};

// The script's four parts, in order, as PayloadAccount::parts lists them.
enum ScriptPart { kHeaderPart, kRunListPart, kOffsetListPart, kPoolPart, kScriptParts };

struct MakeResult {
    MakeStatus status = MakeStatus::Ok;
    std::vector<std::uint8_t> payload;  // empty unless status is Ok
    bool plain = false;                 // the payload is the script itself
    BuildReport report;                 // the chosen script's header
    std::size_t scriptBytes = 0;
    // Every plan considered, flat-rate model first, each in increasing unit size.
    std::vector<UnitTrial> trials;
    // Where the payload's bytes go, by part of the script (for a plain
    // payload the stream and container figures are 0, and there is no rest).
    PayloadAccount account;
    // On failure: what is wrong and what to do about it. On success: a note
    // when the run count was adjusted, otherwise empty. No trailing newline.
    std::string message;
};

// Builds the payload for `old` -> `neu` in options.form. The smaller of the two
// forms is the script itself only when the patcher will not take it for a
// container (its run count's low 16 bits are not 0x4648).
//
// With options.unit 0 the unit size is chosen: every size from 1 to
// kMaxChosenUnit that divides the new file's length (1 always does) is planned,
// options.unit alone otherwise. A packed payload is planned under two cost
// models, one that prices pool bytes at a flat rate (right where the literals
// are scattered changes) and one that prices them by how the new file
// compresses around them (right where long stretches are new); neither can
// judge the other's plans, so the best plan of each, and any other within a
// small margin of its model's best, are made into payloads (a few at most),
// and the smallest payload is kept. A plain script's size is known exactly
// from its plan, so there the best plan is kept.
//
// Before returning a payload it checks what will ship: the payload reads back
// as the script (unpacked, or plain and not taken for a container), the script
// parses with consistent counts and no 0 entry, and the updater's own patcher
// applied to `old` gives exactly `neu`. Every failure is returned in the result
// with a message for the publisher; `newName` is how the message names the
// new file.
MakeResult MakePayload(ByteSpan old, ByteSpan neu, const MakeOptions& options,
                       const std::string& newName = "NEW");

// Unit sizes that divide `length`, best first: the largest divisor up to 32,
// the largest power of two up to 32 when that differs, and 1. Never empty.
std::vector<int> SuggestUnits(std::uint64_t length);

}  // namespace morivane
