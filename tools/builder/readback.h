// The builder's last check before a payload is kept: the updater's own patcher
// applies it to the old file, in memory, and must give the new file.
#pragma once

#include <memory>
#include <string>

#include "decode/bytes.h"
#include "patch/patch_cause.h"
#include "seams/file_system.h"

namespace morivane {

// Runs DiffPatcher on `old` and `payload`, both in memory, writing the new
// file to `newFile` as the patcher makes it. Returns the patcher's message
// number (0 for success), and its cause in *cause when given.
int PatchInMemory(ByteSpan old, ByteSpan payload, std::unique_ptr<OutputFile> newFile,
                  PatchCause* cause = nullptr);

// Rebuilds the new file from `old` and `payload` with DiffPatcher and compares
// it with `neu`. Returns what went wrong, or an empty string.
std::string ReadBack(ByteSpan old, ByteSpan neu, ByteSpan payload);

}  // namespace morivane
