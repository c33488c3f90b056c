// Whole-file reading and all-or-nothing writing for the sabunn commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/bytes.h"

namespace morivane::sabunn {

// Largest file the commands read: every format length is signed 32-bit.
inline constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;

// The whole content of the file at `path`. On failure (missing, unreadable, a
// directory, larger than kMaxFileSize) returns nothing and sets *error to a
// sentence naming the path and the reason.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::string* error);

// Writes `data` to `path` so that the file either keeps its old state or holds
// exactly `data`: the bytes go to a new temporary file in the same directory,
// which is flushed and then renamed over `path`. On failure the temporary file
// is removed, `path` is untouched, *error names the path and the reason, and
// the result is false. The new file gets mode 0666 less the umask.
bool WriteFileAtomically(const std::string& path, ByteSpan data, std::string* error);

}  // namespace morivane::sabunn
