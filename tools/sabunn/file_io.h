// Whole-file reading and all-or-nothing writing for the sabunn commands.
#pragma once

#include <cstdint>
#include <memory>
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

// A new file under a hidden temporary name beside `path` (same directory, so
// the final rename stays within one file system) that takes `path`'s place
// only when Commit succeeds; otherwise it is removed when the object goes.
// The file gets mode 0666 less the umask.
class PendingFile {
  public:
    // Null with *error naming `path` when the temporary file cannot be made.
    static std::unique_ptr<PendingFile> Create(const std::string& path, std::string* error);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // The temporary file's own path, to be written by whoever fills it.
    const std::string& name() const { return name_; }
    // Pushes the finished file to the disk, then renames it over the target.
    // False with *error set when either fails; the target is then untouched.
    bool Commit(std::string* error);

  private:
    PendingFile(std::string target, std::string name)
        : target_(std::move(target)), name_(std::move(name)) {}
    std::string target_;
    std::string name_;
    bool committed_ = false;
};

// Writes `data` to `path` so that the file either keeps its old state or holds
// exactly `data`: the bytes go to a new temporary file in the same directory,
// which is flushed and then renamed over `path`. On failure the temporary file
// is removed, `path` is untouched, *error names the path and the reason, and
// the result is false. The new file gets mode 0666 less the umask.
bool WriteFileAtomically(const std::string& path, ByteSpan data, std::string* error);

// Where the sums of a payload file lie: its path with the extension ".sum"
// instead of ".sabunn" (or with ".sum" added when it has another).
std::string SumsPathBeside(const std::string& payloadPath);

}  // namespace morivane::sabunn
