// The FileSystem seam over the Win32 ANSI file calls that Windows 95 has:
// CreateFileA, ReadFile, WriteFile, GetFileSize, GetFileAttributesA,
// SetFileAttributesA, DeleteFileA, MoveFileA, SetFileTime and
// FlushFileBuffers. Paths are passed to the system as they are, in its ANSI
// code page.
#pragma once

#include "seams/file_system.h"

namespace morivane {

class Win32FileSystem final : public FileSystem {
  public:
    // Opens an existing file for reading, sharing it with other readers.
    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
    // Creates the file or empties it (CREATE_ALWAYS).
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override;
    // CREATE_NEW, shared with readers only; a second writer or an unshared
    // reader cannot open it until it is closed.
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override;
    // Opens an existing file for reading with no sharing at all: fails while
    // anyone else has it open, and *inUse then says so. The error codes that
    // count as "held by another program", Windows 9x's among them, are those
    // of platform/held_file.h.
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override;
    // GetFileAttributesA succeeds.
    bool Exists(const std::string& path) override;
    // Exists and FILE_ATTRIBUTE_READONLY is clear.
    bool IsWritable(const std::string& path) override;
    // Clears FILE_ATTRIBUTE_READONLY, keeping the other attributes.
    bool MakeWritable(const std::string& path) override;
    // DeleteFileA.
    bool Delete(const std::string& path) override;
    // MoveFileA, which fails when anything exists at `to`.
    bool Move(const std::string& from, const std::string& to) override;
    // SetFileTime on the last-access and last-write times; the creation time
    // is left alone.
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override;
    // Opens the file for writing and calls FlushFileBuffers on it. A flush the
    // file's redirector does not offer (ERROR_INVALID_FUNCTION,
    // ERROR_NOT_SUPPORTED) counts as done, here and in OutputFile::Sync.
    bool SyncFile(const std::string& path) override;
    // Nothing to do on Windows 95/98/Me, which cannot flush a directory:
    // always true.
    bool SyncDirectory(const std::string& path) override;
};

}  // namespace morivane
