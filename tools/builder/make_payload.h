// `sabunn make`'s work apart from files and arguments: the script for an old
// and a new file, in the stored form asked for, or a message that tells the
// publisher what to change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/bytes.h"
#include "tools/builder/script_builder.h"

namespace morivane {

struct MakeOptions {
    int unit = kDefaultUnit;
    // Store the script itself instead of HF(LZSS(script)).
    bool plain = false;
    // With `plain`, let the builder change the run count by one when it would
    // read as the HF magic (BuildOptions::plainStorable). Without it such a
    // script is refused.
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

struct MakeResult {
    MakeStatus status = MakeStatus::Ok;
    std::vector<std::uint8_t> payload;  // empty unless status is Ok
    BuildReport report;                 // the script's header
    std::size_t scriptBytes = 0;
    // On failure: what is wrong and what to do about it. On success: a note
    // when the run count was adjusted, otherwise empty. No trailing newline.
    std::string message;
};

// Builds the script for `old` -> `neu` and packs it unless options.plain.
// Before returning a payload it checks what will ship: the payload reads back
// as the script (unpacked, or plain and not taken for a container), the script
// parses with consistent counts and no 0 entry, and applied to `old` it gives
// exactly `neu`. Every failure is returned in the result with a message for the publisher;
// `newName` is how the message names the new file.
MakeResult MakePayload(ByteSpan old, ByteSpan neu, const MakeOptions& options,
                       const std::string& newName = "NEW");

// Unit sizes that divide `length`, best first: the largest divisor up to 32,
// the largest power of two up to 32 when that differs, and 1. Never empty.
std::vector<int> SuggestUnits(std::uint64_t length);

}  // namespace morivane
