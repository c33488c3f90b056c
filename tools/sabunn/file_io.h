// Whole-file reading and all-or-nothing writing for the sabunn commands.
//
// The tool runs as root on folders that other accounts can write to, so every
// path is treated as possibly hostile:
// - an input must be a regular file, and is found to be one before anything
//   can block on it (a FIFO, a device, a socket or a directory is refused at
//   once, never waited on);
// - an output never replaces one of the command's inputs, whatever name it is
//   reached by (a hard link, a symbolic link, another spelling of the path);
// - an output is written to a new file created exclusively, never through a
//   link, and renamed into place only when complete. The rename replaces the
//   directory entry at the output path: a symbolic link there is replaced by
//   the new file, and the file it pointed to is left as it was. Anything else
//   there that is not a regular file (a directory, a FIFO, a device, a socket)
//   is refused and left alone.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/bytes.h"

namespace morivane::sabunn {

// Largest file the commands read: every format length is signed 32-bit.
inline constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;

// A file as the system knows it, whatever name it was reached by.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// The whole content of the regular file at `path`. On failure (missing,
// unreadable, not a regular file, larger than kMaxFileSize) returns nothing
// and sets *error to a sentence naming the path and the reason; *missing,
// when given, tells whether nothing at all is at `path`. *id, when given,
// receives the file's identity.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::string* error,
                                                       FileId* id = nullptr,
                                                       bool* missing = nullptr);

// The files one command reads, remembered by identity so that none of its
// outputs can take an input's place.
class Inputs {
  public:
    // Reads `path` whole (see ReadWholeFile) and remembers it.
    std::optional<std::vector<std::uint8_t>> Read(const std::string& path, std::string* error);
    // Reads the sums that belong to the inputs read so far. Nothing at
    // `path` is no failure: the result is empty and *missing is set. A file
    // that is one of those inputs (a --manifest naming the payload itself) is
    // refused.
    std::optional<std::vector<std::uint8_t>> ReadSums(const std::string& path, bool* missing,
                                                      std::string* error);
    // The path under which the input `id` was read, or null when it is none.
    const std::string* Find(const FileId& id) const;

  private:
    std::vector<std::pair<FileId, std::string>> files_;
};

// A new file under a hidden temporary name beside `path` (same directory, so
// the final rename stays within one file system) that takes `path`'s place
// only when Commit succeeds; otherwise it is removed when the object goes.
// The file gets mode 0666 less the umask.
class PendingFile {
  public:
    // Null with *error naming `path` when `path` is one of `inputs`, is
    // there as something other than a regular file or a symbolic link (both
    // refusals, which set *refused when given), or the temporary file cannot
    // be made.
    static std::unique_ptr<PendingFile> Create(const std::string& path, const Inputs& inputs,
                                               std::string* error, bool* refused = nullptr);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    const std::string& path() const { return target_; }
    // True when this file and `other` would take the place of the same
    // directory entry, or of the same existing file.
    bool SameTarget(const PendingFile& other) const;

    // Appends `data` to the temporary file; false with *error on failure.
    bool Write(ByteSpan data, std::string* error);
    // Pushes the finished file to the disk, checks once more that the output
    // path is not an input, then renames the file over it. False with *error
    // set when any step fails; the output path is then untouched.
    bool Commit(std::string* error);

  private:
    PendingFile() = default;
    std::string target_;
    std::string name_;  // the last component of target_
    std::string temporary_;
    int directory_ = -1;  // the directory of both, held open
    int fd_ = -1;         // the temporary file, until Commit closes it
    FileId directoryId_;
    FileId temporaryId_;
    std::optional<FileId> existing_;  // what the output path named at Create
    Inputs inputs_;
    bool committed_ = false;
};

// Writes `data` to `path` so that the file either keeps its old state or holds
// exactly `data` (through a PendingFile, with the same refusals). On failure
// *error names the path and the reason, and the result is false.
bool WriteFileAtomically(const std::string& path, ByteSpan data, const Inputs& inputs,
                         std::string* error);

// Where the sums of a payload file lie: its path with the extension ".sum"
// instead of ".sabunn" (or with ".sum" added when it has another).
std::string SumsPathBeside(const std::string& payloadPath);

}  // namespace morivane::sabunn
