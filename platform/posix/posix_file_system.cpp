#include "platform/posix/posix_file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "platform/flush_outcome.h"

namespace morivane {

namespace {

// fsync of `fd`; true also when the file cannot be flushed at all (a device,
// a file system without fsync): it is then as durable as it can be made.
bool Flushed(int fd) {
    return fsync(fd) == 0 || FsyncNotOffered(errno);
}

// Opens `path` read-only with `flags` and flushes it; false when it cannot be
// opened or the flush fails.
bool SyncPath(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = Flushed(fd);
    close(fd);
    return synced;
}

class PosixInputFile final : public InputFile {
  public:
    explicit PosixInputFile(FILE* file) : file_(file) {}
    ~PosixInputFile() override { fclose(file_); }

    std::int64_t Length() override {
        struct stat st;
        if (fstat(fileno(file_), &st) != 0) return -1;
        return st.st_size;
    }
    std::size_t Read(void* buffer, std::size_t size, std::size_t count) override {
        if (size == 0 || count == 0) return 0;
        return fread(buffer, size, count, file_);
    }

  private:
    FILE* file_;
};

// Writes are gathered in a buffer of the file's own and reach stdio, which is
// then unbuffered, one full buffer at a time. The patcher writes one request
// per run, and scripts with small units have tens of thousands of runs of a
// few bytes: a copy into the buffer costs far less than stdio's per-call
// locking and bookkeeping. Without the buffer (it could not be had) stdio
// buffers as usual.
class PosixOutputFile final : public OutputFile {
  public:
    PosixOutputFile(FILE* file, std::size_t bufferSize) : file_(file) {
        if (bufferSize > 0) buffer_.reset(new (std::nothrow) char[bufferSize]);
        if (buffer_ != nullptr && setvbuf(file_, nullptr, _IONBF, 0) == 0) {
            capacity_ = bufferSize;
        }
    }
    ~PosixOutputFile() override {
        if (file_ == nullptr) return;
        Flush();
        fclose(file_);
    }

    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
        if (file_ == nullptr || size == 0 || count == 0) return 0;
        if (count <= (capacity_ - used_) / size) {
            std::memcpy(buffer_.get() + used_, buffer, size * count);
            used_ += size * count;
            return count;
        }
        // What is buffered goes first, so that the file keeps the order of
        // the writes; a failed flush loses it, and this write reports nothing.
        if (!Flush()) return 0;
        if (count < capacity_ / size) {
            std::memcpy(buffer_.get(), buffer, size * count);
            used_ = size * count;
            return count;
        }
        return fwrite(buffer, size, count, file_);
    }
    bool Close() override {
        if (file_ == nullptr) return false;
        const bool flushed = Flush();
        // A write error earlier in the file's life lost data just as surely
        // as a failed final flush does.
        const bool failedBefore = ferror(file_) != 0 || lost_;
        const bool closed = fclose(file_) == 0;
        file_ = nullptr;
        return flushed && closed && !failedBefore;
    }
    bool Sync() override {
        if (file_ == nullptr) return false;
        return Flush() && fflush(file_) == 0 && ferror(file_) == 0 && Flushed(fileno(file_));
    }

  private:
    // Hands the buffered bytes to stdio; false (and remembered) when they
    // could not all be written.
    bool Flush() {
        if (used_ == 0) return true;
        const bool written = fwrite(buffer_.get(), 1, used_, file_) == used_;
        used_ = 0;
        if (!written) lost_ = true;
        return written;
    }

    FILE* file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool lost_ = false;  // buffered bytes that could not be written
};

}  // namespace

std::unique_ptr<InputFile> PosixFileSystem::OpenForReading(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return nullptr;
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
        fclose(file);
        return nullptr;
    }
    return std::make_unique<PosixInputFile>(file);
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateForWriting(const std::string& path) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return nullptr;
    return std::make_unique<PosixOutputFile>(file, writeBuffer_);
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateNew(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* file = nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (file = fdopen(fd, "wb")) == nullptr) {
        close(fd);
        unlink(path.c_str());
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(file, writeBuffer_);
}

std::unique_ptr<InputFile> PosixFileSystem::OpenUnshared(const std::string& path, bool* inUse) {
    *inUse = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *inUse = errno == EWOULDBLOCK;
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<PosixInputFile>(file);
}

bool PosixFileSystem::Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::IsWritable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
}

bool PosixFileSystem::MakeWritable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    if ((st.st_mode & S_IWUSR) != 0) return true;
    return chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool PosixFileSystem::Delete(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool PosixFileSystem::Move(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // No atomic no-replace rename here: a hard link cannot replace anything
    // either, and removing the old name completes the move.
    if (link(from.c_str(), to.c_str()) != 0) return false;
    if (unlink(from.c_str()) != 0) {
        unlink(to.c_str());
        return false;
    }
    return true;
}

bool PosixFileSystem::SetTimes(const std::string& path, std::int64_t unixSeconds) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixSeconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool PosixFileSystem::SyncFile(const std::string& path) {
    return SyncPath(path, O_RDONLY);
}

bool PosixFileSystem::SyncDirectory(const std::string& path) {
    return SyncPath(path.empty() ? std::string(".") : path, O_RDONLY | O_DIRECTORY);
}

}  // namespace morivane
