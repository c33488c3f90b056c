#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "platform/flush_outcome.h"
#include "platform/held_file.h"

namespace morivane {

static_assert(kWin32ErrorInvalidFunction == static_cast<unsigned long>(ERROR_INVALID_FUNCTION));
static_assert(kWin32ErrorNotSupported == static_cast<unsigned long>(ERROR_NOT_SUPPORTED));
static_assert(kWin32ErrorAccessDenied == static_cast<unsigned long>(ERROR_ACCESS_DENIED));
static_assert(kWin32ErrorSharingViolation == static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
static_assert(kWin32ErrorLockViolation == static_cast<unsigned long>(ERROR_LOCK_VIOLATION));

namespace {

// FlushFileBuffers on `file`; true also when the file cannot be flushed at
// all (some Windows 9x network redirectors): it is then as durable as the
// system can make it.
bool Flushed(HANDLE file) {
    return FlushFileBuffers(file) != FALSE || FlushFileBuffersNotOffered(GetLastError());
}

// Owns a file handle; INVALID_HANDLE_VALUE means none.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        const bool closed = CloseHandle(handle_) != FALSE;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_;
};

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces.
constexpr std::size_t kMaxTransfer = 0x40000000;

class Win32InputFile final : public InputFile {
  public:
    explicit Win32InputFile(HANDLE handle) : file_(handle) {}

    std::int64_t Length() override {
        DWORD high = 0;
        SetLastError(NO_ERROR);
        const DWORD low = GetFileSize(file_.get(), &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
        return (static_cast<std::int64_t>(high) << 32) | low;
    }

    std::size_t Read(void* buffer, std::size_t size, std::size_t count) override {
        if (size == 0 || count > SIZE_MAX / size) return 0;
        const std::size_t wanted = size * count;
        auto* out = static_cast<char*>(buffer);
        std::size_t got = 0;
        while (got < wanted) {
            const std::size_t piece = wanted - got < kMaxTransfer ? wanted - got : kMaxTransfer;
            DWORD read = 0;
            if (!ReadFile(file_.get(), out + got, static_cast<DWORD>(piece), &read, nullptr) ||
                read == 0) {
                break;
            }
            got += read;
        }
        return got / size;
    }

  private:
    FileHandle file_;
};

class Win32OutputFile final : public OutputFile {
  public:
    explicit Win32OutputFile(HANDLE handle) : file_(handle) {}

    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
        if (size == 0 || count > SIZE_MAX / size || !file_) return 0;
        const std::size_t wanted = size * count;
        const auto* in = static_cast<const char*>(buffer);
        std::size_t put = 0;
        while (put < wanted) {
            const std::size_t piece = wanted - put < kMaxTransfer ? wanted - put : kMaxTransfer;
            DWORD written = 0;
            if (!WriteFile(file_.get(), in + put, static_cast<DWORD>(piece), &written, nullptr) ||
                written == 0) {
                break;
            }
            put += written;
        }
        return put / size;
    }

    bool Close() override { return file_.Close(); }

    // WriteFile hands the data to the system at once; FlushFileBuffers then
    // writes the file's cached data and its directory entry to the disk.
    bool Sync() override { return file_ && Flushed(file_.get()); }

  private:
    FileHandle file_;
};

}  // namespace

std::unique_ptr<InputFile> Win32FileSystem::OpenForReading(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32InputFile>(h);
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateForWriting(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32OutputFile>(h);
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateNew(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32OutputFile>(h);
}

std::unique_ptr<InputFile> Win32FileSystem::OpenUnshared(const std::string& path, bool* inUse) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Which codes mean another program has the file: platform/held_file.h.
        const DWORD error = GetLastError();
        std::optional<unsigned long> sharedError;
        if (NeedsSharedOpenToTell(error)) {
            // Windows 95, 98 and Me (and redirectors) may answer a conflict
            // with ERROR_ACCESS_DENIED: a file that opens for reading beside
            // other readers and writers is one we may read, so only the
            // sharing was refused. FILE_SHARE_DELETE is left out, as Windows
            // 9x refuses it.
            FileHandle shared(CreateFileA(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!shared) sharedError = GetLastError();
        }
        *inUse = HeldByAnotherProgram(error, sharedError);
        return nullptr;
    }
    *inUse = false;
    return std::make_unique<Win32InputFile>(h);
}

bool Win32FileSystem::Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32FileSystem::IsWritable(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool Win32FileSystem::MakeWritable(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != FALSE;
}

bool Win32FileSystem::Delete(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

bool Win32FileSystem::Move(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool Win32FileSystem::SetTimes(const std::string& path, std::int64_t unixSeconds) {
    // FILETIME counts 100-nanosecond steps from 1601-01-01 00:00:00 UTC; the
    // Unix epoch lies 11,644,473,600 seconds later. The instant is given to
    // the system as UTC, which then keeps it in whatever form the volume uses.
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(unixSeconds) + 11644473600ull) * 10000000ull;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);

    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const bool set = SetFileTime(file.get(), nullptr, &time, &time) != FALSE;
    return file.Close() && set;
}

bool Win32FileSystem::SyncFile(const std::string& path) {
    // FlushFileBuffers needs a handle with write access.
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const bool flushed = Flushed(file.get());
    return file.Close() && flushed;
}

bool Win32FileSystem::SyncDirectory(const std::string&) {
    // Windows 95, 98 and Me cannot open a directory as a file, so there is no
    // handle to flush; their file system writes directory changes back on
    // its own schedule.
    return true;
}

}  // namespace morivane
