// The FileSystem seam on POSIX systems, with the C library's streams for the
// two files the patcher uses (output files with a buffer of their own). Paths
// are passed to the system as they are. Output files' Sync is a flush and
// fsync. An fsync that fails because the file cannot be flushed at all
// (EINVAL, ENOTSUP: a device, a file system without fsync) counts as done;
// see platform/flush_outcome.h.
#pragma once

#include <cstddef>

#include "seams/file_system.h"

namespace morivane {

class PosixFileSystem : public FileSystem {
  public:
    // Output files gather writes in a buffer of `writeBuffer` bytes, so that
    // the patcher's one write per run costs neither a system call nor stdio's
    // per-call work; a write larger than the buffer goes straight through.
    explicit PosixFileSystem(std::size_t writeBuffer = kDefaultWriteBuffer)
        : writeBuffer_(writeBuffer) {}

    static constexpr std::size_t kDefaultWriteBuffer = 1 << 20;

    // Null for a missing file, a directory, or one that cannot be read.
    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
    // fopen "wb"; null when the file cannot be created or emptied.
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override;
    // open(O_CREAT | O_EXCL), holding an exclusive flock() until closed.
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override;
    // open() for reading and a non-blocking exclusive flock(), kept while
    // open; *inUse when another open file holds the lock.
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override;
    // stat() succeeds.
    bool Exists(const std::string& path) override;
    // The file exists and its owner write bit (S_IWUSR), the stand-in for the
    // read-only attribute, is set.
    bool IsWritable(const std::string& path) override;
    // Sets the owner write bit, keeping the other mode bits.
    bool MakeWritable(const std::string& path) override;
    // unlink(); fails for a directory.
    bool Delete(const std::string& path) override;
    // renameat2(RENAME_NOREPLACE); where the file system does not offer that,
    // link() then unlink(). Fails when anything exists at `to`.
    bool Move(const std::string& from, const std::string& to) override;
    // utimensat() with both times at `unixSeconds`, whole seconds.
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override;
    // open() and fsync() of the file; true also where it cannot be flushed.
    bool SyncFile(const std::string& path) override;
    // open() and fsync() of the directory; true also where the file system
    // cannot sync directories (EINVAL, ENOTSUP).
    bool SyncDirectory(const std::string& path) override;

  private:
    std::size_t writeBuffer_;
};

}  // namespace morivane
