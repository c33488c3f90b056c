// The FileSystem seam on POSIX systems, with the C library's streams for the
// two files the patcher uses (output files with a buffer of their own).
// Output files' Sync is a flush and fsync. An fsync that fails because the
// file cannot be flushed at all (EINVAL, ENOTSUP: a device, a file system
// without fsync) counts as done; see platform/flush_outcome.h.
//
// Hostile folders. The updater runs as root on folders other accounts may
// write to, so nothing here is ever led out of place by what it finds:
//
//  - Every file is checked to be a regular file before it is opened, and
//    opened without blocking (platform/posix/regular_file.h): a FIFO, socket
//    or device is refused, never waited on.
//  - Nothing is written, re-moded or stamped through a symbolic link, and
//    never through a file that has other names (a hard link): such a file
//    is refused for writing, MakeWritable, SetTimes and KeepAttributes. A
//    file is replaced by renaming, which changes names, never contents.
//  - New files are made exclusively (CreateNew), and born locked: the file
//    is created nameless or under a private name, locked, and only then
//    linked to its name.
//  - Confined to a root (the installation directory), no symbolic link is
//    followed anywhere below it, in a directory of the path as little as in
//    its last name, and "." and ".." are refused as names: every call walks
//    down from the root one directory at a time. The root itself is reached
//    as the caller gives it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "seams/file_system.h"

namespace morivane {

class UniqueFd;

class PosixFileSystem : public FileSystem {
  public:
    // Output files gather writes in a buffer of `writeBuffer` bytes, so that
    // the patcher's one write per run costs neither a system call nor stdio's
    // per-call work; a write larger than the buffer goes straight through.
    explicit PosixFileSystem(std::size_t writeBuffer = kDefaultWriteBuffer);
    // The same, confined to the directory `root` (a path without "." or ".."
    // names; trailing slashes are dropped) as described above. Paths outside
    // it are served as by the unconfined file system.
    explicit PosixFileSystem(std::string root, std::size_t writeBuffer = kDefaultWriteBuffer);

    static constexpr std::size_t kDefaultWriteBuffer = 1 << 20;

    // Null for anything but a regular file, or one that cannot be read.
    // Outside the root, a symbolic link to a regular file is followed.
    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
    // Creates the file, or empties a regular file that has no other name;
    // null for anything else (a link, a FIFO, a hard-linked file).
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override;
    // Born locked as described above; null when anything exists at `path`.
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override;
    // A regular file opened for reading with a non-blocking exclusive
    // flock(), kept while open; *inUse when another open file holds the lock.
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override;
    // Any entry, a dangling symbolic link included.
    bool Exists(const std::string& path) override;
    // A regular file whose owner write bit (S_IWUSR), the stand-in for the
    // read-only attribute, is set.
    bool IsWritable(const std::string& path) override;
    // Sets the owner write bit of a regular file with no other name, keeping
    // the other mode bits.
    bool MakeWritable(const std::string& path) override;
    // Removes the name (never what a link leads to); fails for a directory.
    bool Delete(const std::string& path) override;
    // renameat2(RENAME_NOREPLACE); where the file system does not offer that,
    // link() then unlink(). Fails when anything exists at `to`.
    bool Move(const std::string& from, const std::string& to) override;
    // Both times at `unixSeconds`, whole seconds, on a regular file with no
    // other name.
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override;
    // `to` (a regular file with no other name) takes the owner and group of
    // the regular file `from` where this process may give them, and its
    // permission bits (set-user-ID, set-group-ID and sticky bits left out)
    // with the owner write bit set.
    bool KeepAttributes(const std::string& from, const std::string& to) override;
    // fsync() of a regular file; true also where it cannot be flushed.
    bool SyncFile(const std::string& path) override;
    // fsync() of the directory; true also where the file system cannot sync
    // directories (EINVAL, ENOTSUP).
    bool SyncDirectory(const std::string& path) override;
    // ENOSPC or EDQUOT seen by any call of this file system or its files.
    bool RanOutOfSpace() const override;

  private:
    struct Place;
    // The directory that holds `path`, open, and the name inside it.
    Place Locate(const std::string& path) const;
    // Remembers a failure for RanOutOfSpace when `error` says the volume
    // was full.
    void Note(int error) const;
    std::unique_ptr<OutputFile> Output(UniqueFd fd) const;

    std::size_t writeBuffer_;
    std::string root_;  // empty: not confined
    // Shared with the output files, which may outlive this object.
    std::shared_ptr<bool> outOfSpace_;
};

}  // namespace morivane
