// The builder's last check before a payload is kept: the updater's own patcher
// applies it to the old file, in memory, and must give the new file.
#pragma once

#include <string>

#include "decode/bytes.h"

namespace morivane {

// Rebuilds the new file from `old` and `payload` with DiffPatcher and compares
// it with `neu`. Returns what went wrong, or an empty string.
std::string ReadBack(ByteSpan old, ByteSpan neu, ByteSpan payload);

}  // namespace morivane
