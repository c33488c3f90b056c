// The file operations the patcher and the update run need, behind one narrow
// interface: the Win32 build implements it with the system's calls, the native
// build with POSIX calls, and the tests with an in-memory fake that can fail
// on demand. Paths are narrow byte strings in the system's code page (code
// page 932 on the Japanese systems the updater runs on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace morivane {

// A file open for untranslated reading ("rb").
class InputFile {
  public:
    virtual ~InputFile() = default;
    // The file's length in bytes, or -1 when it cannot be told.
    virtual std::int64_t Length() = 0;
    // Reads up to `count` items of `size` bytes into `buffer` and returns the
    // number of whole items read; a partial last item is stored but not counted.
    virtual std::size_t Read(void* buffer, std::size_t size, std::size_t count) = 0;
};

// A file open for untranslated writing that was created or emptied ("wb").
class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // Writes `count` items of `size` bytes and returns the number of whole items
    // written.
    virtual std::size_t Write(const void* buffer, std::size_t size, std::size_t count) = 0;
    // Flushes and closes the file; false when buffered data could not be
    // written or the close failed. Destroying an unclosed file closes it and
    // ignores the outcome.
    virtual bool Close() = 0;
    // Makes everything written so far durable: out of the program's buffers
    // and the system's cache onto the medium, so that it survives a power
    // failure (fflush and fsync; FlushFileBuffers). False when that failed or
    // this file system cannot make data durable. Where the system offers no
    // flush for this file (a device, some network redirectors) it is as
    // durable as it can be, and that counts as done. The file stays open for
    // further writes either way.
    virtual bool Sync() { return false; }
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Null when the file cannot be opened (missing, a directory, held open
    // without sharing by another process, no permission).
    virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path) = 0;
    // Creates or empties the file; null when that is not possible.
    virtual std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) = 0;

    // Creates a new file; null when anything exists at `path` or it cannot be
    // created. From the instant it appears at `path` until it is closed, the
    // file counts as in use for OpenUnshared (Win32: opened without write or
    // delete sharing; POSIX: an exclusive lock taken before the file is given
    // its name), so no other process ever finds it there free.
    virtual std::unique_ptr<OutputFile> CreateNew(const std::string& path) = 0;
    // Opens the file for reading only when nobody else has it open in the
    // way CreateNew holds its files. Null when it cannot be opened; *inUse
    // then tells whether that is because another process holds it.
    virtual std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) = 0;

    // True when anything exists at `path`: a file, a directory or any other
    // entry (a symbolic link counts, whether or not it leads anywhere).
    virtual bool Exists(const std::string& path) = 0;
    // True when the file exists and does not carry the read-only attribute.
    virtual bool IsWritable(const std::string& path) = 0;
    // Clears the read-only attribute, keeping the file's other attributes.
    virtual bool MakeWritable(const std::string& path) = 0;
    // Deletes a file (not a directory).
    virtual bool Delete(const std::string& path) = 0;
    // Gives a file a new path; fails when anything exists at `to`.
    virtual bool Move(const std::string& from, const std::string& to) = 0;
    // Sets the last-access and last-modification times to `unixSeconds`
    // (seconds since 1970-01-01 00:00:00 UTC), leaving the creation time alone.
    virtual bool SetTimes(const std::string& path, std::int64_t unixSeconds) = 0;
    // Gives the file at `to`, which is to replace the file at `from`, what
    // `from` carries besides its content and times. On POSIX systems: its
    // owner, group and permission bits, the owner's write bit added (the
    // stand-in for the read-only attribute, which a replaced file never
    // keeps). Win32 and these defaults carry nothing over: a replaced file is
    // an ordinary new file there. False when it could not be done.
    virtual bool KeepAttributes(const std::string& /*from*/, const std::string& /*to*/) {
        return true;
    }
    // True once creating, writing, syncing or closing a file has failed
    // because the volume was full (or a quota used up), so that a front end
    // can name the cause of a failed run. It stays true.
    virtual bool RanOutOfSpace() const { return false; }

    // Durability, for a run that must be recoverable after a power failure.
    // A file system that cannot make data durable keeps these defaults, which
    // say so.
    //
    // Makes the content of the closed file at `path` durable. False when the
    // file cannot be opened or the system reports a failure; a flush the
    // system does not offer for it counts as done, as in OutputFile::Sync.
    virtual bool SyncFile(const std::string& /*path*/) { return false; }
    // Makes the entries of the directory `path` durable: the files created,
    // deleted and renamed in it so far. A trailing separator is allowed.
    // True also where the system offers no way to ask for this and writes
    // directories through on its own terms (the Win32 file system), false
    // when the directory cannot be opened or the system reports a failure.
    virtual bool SyncDirectory(const std::string& /*path*/) { return false; }
};

// The whole content of `file`, just opened, in one read request. Nothing
// when its length cannot be told or is more than `maxBytes`, when the memory
// cannot be had, or when the read comes out short.
inline std::optional<std::vector<std::uint8_t>> ReadAll(InputFile& file, std::int64_t maxBytes) {
    const std::int64_t length = file.Length();
    if (length < 0 || length > maxBytes) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (!bytes.empty() && file.Read(bytes.data(), bytes.size(), 1) != 1) return std::nullopt;
    return bytes;
}

}  // namespace morivane
