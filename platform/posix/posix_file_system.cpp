#include "platform/posix/posix_file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/flush_outcome.h"
#include "platform/posix/regular_file.h"

namespace morivane {

namespace {

// fsync of `fd`; true also when the file cannot be flushed at all (a device,
// a file system without fsync): it is then as durable as it can be made.
bool Flushed(int fd) {
    return fsync(fd) == 0 || FsyncNotOffered(errno);
}

bool IsOutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT;
}

// Marks `flag` when the last call failed for want of space.
void NoteErrno(const std::shared_ptr<bool>& flag) {
    if (IsOutOfSpace(errno)) *flag = true;
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

std::unique_ptr<InputFile> InputOf(UniqueFd fd) {
    if (!fd.valid()) return nullptr;
    FILE* file = fdopen(fd.get(), "rb");
    if (file == nullptr) return nullptr;
    fd.release();
    return std::make_unique<PosixInputFile>(file);
}

// Writes are gathered in a buffer of the file's own and reach stdio, which is
// then unbuffered, one full buffer at a time. The patcher writes one request
// per run, and scripts with small units have tens of thousands of runs of a
// few bytes: a copy into the buffer costs far less than stdio's per-call
// locking and bookkeeping. Without the buffer (it could not be had) stdio
// buffers as usual.
class PosixOutputFile final : public OutputFile {
  public:
    PosixOutputFile(FILE* file, std::size_t bufferSize, std::shared_ptr<bool> outOfSpace)
        : file_(file), outOfSpace_(std::move(outOfSpace)) {
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
        const std::size_t written = fwrite(buffer, size, count, file_);
        if (written != count) NoteErrno(outOfSpace_);
        return written;
    }
    bool Close() override {
        if (file_ == nullptr) return false;
        const bool flushed = Flush();
        // A write error earlier in the file's life lost data just as surely
        // as a failed final flush does.
        const bool failedBefore = ferror(file_) != 0 || lost_;
        const bool closed = fclose(file_) == 0;
        if (!closed) NoteErrno(outOfSpace_);
        file_ = nullptr;
        return flushed && closed && !failedBefore;
    }
    bool Sync() override {
        if (file_ == nullptr) return false;
        if (Flush() && fflush(file_) == 0 && ferror(file_) == 0 && Flushed(fileno(file_))) {
            return true;
        }
        NoteErrno(outOfSpace_);
        return false;
    }

  private:
    // Hands the buffered bytes to stdio; false (and remembered) when they
    // could not all be written.
    bool Flush() {
        if (used_ == 0) return true;
        const bool written = fwrite(buffer_.get(), 1, used_, file_) == used_;
        used_ = 0;
        if (!written) {
            lost_ = true;
            NoteErrno(outOfSpace_);
        }
        return written;
    }

    FILE* file_;
    std::shared_ptr<bool> outOfSpace_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool lost_ = false;  // buffered bytes that could not be written
};

// The names of `path` between slashes, empty ones (doubled or trailing
// slashes) left out.
std::vector<std::string> NamesOf(const std::string& path) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) names.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return names;
}

UniqueFd OpenDirectory(const char* path) {
    return UniqueFd(::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// A new file `name` in `dir`, made exclusively and locked; invalid (and no
// file left) when either fails.
UniqueFd CreateLocked(int dir, const char* name) {
    UniqueFd fd(::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        ::unlinkat(dir, name, 0);
        return UniqueFd();
    }
    return fd;
}

}  // namespace

struct PosixFileSystem::Place {
    UniqueFd dir;           // the directory holding the entry; invalid when unreachable
    std::string name;       // the entry in it; "." for that directory itself
    bool confined = false;  // below the root: no link is followed
    bool ok() const { return dir.valid(); }
};

PosixFileSystem::PosixFileSystem(std::size_t writeBuffer)
    : writeBuffer_(writeBuffer), outOfSpace_(std::make_shared<bool>(false)) {}

PosixFileSystem::PosixFileSystem(std::string root, std::size_t writeBuffer)
    : writeBuffer_(writeBuffer), root_(std::move(root)), outOfSpace_(std::make_shared<bool>(false)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

void PosixFileSystem::Note(int error) const {
    if (IsOutOfSpace(error)) *outOfSpace_ = true;
}

bool PosixFileSystem::RanOutOfSpace() const {
    return *outOfSpace_;
}

PosixFileSystem::Place PosixFileSystem::Locate(const std::string& path) const {
    Place place;
    const bool inside =
        !root_.empty() && path.compare(0, root_.size(), root_) == 0 &&
        (path.size() == root_.size() || root_ == "/" || path[root_.size()] == '/');
    if (inside) {
        // Down from the root one directory at a time, following no link.
        place.confined = true;
        const std::vector<std::string> names = NamesOf(path.substr(root_.size()));
        for (const std::string& name : names) {
            if (name == "." || name == "..") {
                errno = EINVAL;
                return place;
            }
        }
        UniqueFd dir = OpenDirectory(root_.c_str());
        for (std::size_t i = 0; i + 1 < names.size() && dir.valid(); ++i) {
            UniqueFd next(
                ::openat(dir.get(), names[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat st;
            // O_PATH with O_NOFOLLOW may hand back the link itself.
            if (next.valid() && (::fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode))) {
                next = UniqueFd();
                errno = ELOOP;
            }
            dir = std::move(next);
        }
        place.dir = std::move(dir);
        place.name = names.empty() ? "." : names.back();
        return place;
    }

    // Elsewhere the path is taken as the caller gives it.
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed.empty()) {
        errno = ENOENT;
        return place;
    }
    const std::size_t slash = trimmed.find_last_of('/');
    if (slash == std::string::npos) {
        place.dir = OpenDirectory(".");
        place.name = trimmed;
    } else if (trimmed == "/") {
        place.dir = OpenDirectory("/");
        place.name = ".";
    } else {
        place.dir = OpenDirectory(slash == 0 ? "/" : trimmed.substr(0, slash).c_str());
        place.name = trimmed.substr(slash + 1);
    }
    return place;
}

std::unique_ptr<OutputFile> PosixFileSystem::Output(UniqueFd fd) const {
    if (!fd.valid()) return nullptr;
    FILE* file = fdopen(fd.get(), "wb");
    if (file == nullptr) return nullptr;
    fd.release();
    return std::make_unique<PosixOutputFile>(file, writeBuffer_, outOfSpace_);
}

std::unique_ptr<InputFile> PosixFileSystem::OpenForReading(const std::string& path) {
    const Place place = Locate(path);
    if (!place.ok()) return nullptr;
    struct stat st;
    return InputOf(OpenRegularAt(place.dir.get(), place.name.c_str(), O_RDONLY, !place.confined, &st));
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateForWriting(const std::string& path) {
    const Place place = Locate(path);
    if (!place.ok() || place.name == ".") return nullptr;
    const int dir = place.dir.get();
    const char* name = place.name.c_str();
    // Only a regular file with no other name is emptied; anything else at
    // the name is left alone, and no device or FIFO is ever opened.
    struct stat st;
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISREG(st.st_mode) || st.st_nlink != 1)) {
        return nullptr;
    }
    UniqueFd fd(::openat(dir, name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        Note(errno);
        return nullptr;
    }
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        ::ftruncate(fd.get(), 0) != 0) {
        return nullptr;
    }
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) return nullptr;
    return Output(std::move(fd));
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateNew(const std::string& path) {
    const Place place = Locate(path);
    if (!place.ok() || place.name == ".") return nullptr;
    const int dir = place.dir.get();
    const char* name = place.name.c_str();

    // A nameless file in the directory, locked, then given its name: it
    // appears locked, and linkat fails when anything has the name already.
    UniqueFd fd(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (fd.valid()) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return nullptr;
        const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
        if (::linkat(AT_FDCWD, self.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0) {
            return Output(std::move(fd));
        }
        if (errno != ENOENT) {  // ENOENT: no /proc here
            Note(errno);
            return nullptr;
        }
        if (::linkat(fd.get(), "", dir, name, AT_EMPTY_PATH) == 0) return Output(std::move(fd));
        if (errno == EEXIST) return nullptr;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        Note(errno);
        return nullptr;
    }

    // No nameless files on this file system: the file is made and locked
    // under a private name, then linked (or, without hard links, renamed
    // without replacing) to its own.
    const std::string privateName = place.name + "." + std::to_string(::getpid()) + ".new";
    const char* hidden = privateName.c_str();
    fd = CreateLocked(dir, hidden);
    if (!fd.valid()) {
        Note(errno);
        return nullptr;
    }
    if (::linkat(dir, hidden, dir, name, 0) == 0) {
        ::unlinkat(dir, hidden, 0);
        return Output(std::move(fd));
    }
    if (errno != EEXIST &&
        ::renameat2(dir, hidden, dir, name, RENAME_NOREPLACE) == 0) {
        return Output(std::move(fd));
    }
    const int error = errno;
    ::unlinkat(dir, hidden, 0);
    if (error == EEXIST) return nullptr;
    if (error != EPERM && error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
        Note(error);
        return nullptr;
    }
    // A file system with neither: made under its name and locked at once.
    // Only here can another process find it, for that instant, unlocked.
    fd = CreateLocked(dir, name);
    if (!fd.valid()) Note(errno);
    return Output(std::move(fd));
}

std::unique_ptr<InputFile> PosixFileSystem::OpenUnshared(const std::string& path, bool* inUse) {
    *inUse = false;
    const Place place = Locate(path);
    if (!place.ok()) return nullptr;
    struct stat st;
    UniqueFd fd = OpenRegularAt(place.dir.get(), place.name.c_str(), O_RDONLY, !place.confined, &st);
    if (!fd.valid()) return nullptr;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        *inUse = errno == EWOULDBLOCK;
        return nullptr;
    }
    return InputOf(std::move(fd));
}

bool PosixFileSystem::Exists(const std::string& path) {
    const Place place = Locate(path);
    struct stat st;
    return place.ok() &&
           ::fstatat(place.dir.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool PosixFileSystem::IsWritable(const std::string& path) {
    const Place place = Locate(path);
    struct stat st;
    return place.ok() &&
           ::fstatat(place.dir.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) != 0;
}

bool PosixFileSystem::MakeWritable(const std::string& path) {
    const Place place = Locate(path);
    if (!place.ok()) return false;
    struct stat st;
    const UniqueFd fd = OpenRegularAt(place.dir.get(), place.name.c_str(), O_RDONLY, false, &st);
    if (!fd.valid() || st.st_nlink != 1) return false;
    if ((st.st_mode & S_IWUSR) != 0) return true;
    return ::fchmod(fd.get(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool PosixFileSystem::Delete(const std::string& path) {
    const Place place = Locate(path);
    return place.ok() && place.name != "." && ::unlinkat(place.dir.get(), place.name.c_str(), 0) == 0;
}

bool PosixFileSystem::Move(const std::string& from, const std::string& to) {
    const Place source = Locate(from);
    const Place target = Locate(to);
    if (!source.ok() || !target.ok() || source.name == "." || target.name == ".") return false;
    const int fromDir = source.dir.get();
    const int toDir = target.dir.get();
    const char* fromName = source.name.c_str();
    const char* toName = target.name.c_str();
    if (::renameat2(fromDir, fromName, toDir, toName, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        Note(errno);
        return false;
    }
    // No atomic no-replace rename here: a hard link cannot replace anything
    // either, and removing the old name completes the move.
    if (::linkat(fromDir, fromName, toDir, toName, 0) != 0) {
        Note(errno);
        return false;
    }
    if (::unlinkat(fromDir, fromName, 0) != 0) {
        ::unlinkat(toDir, toName, 0);
        return false;
    }
    return true;
}

bool PosixFileSystem::SetTimes(const std::string& path, std::int64_t unixSeconds) {
    const Place place = Locate(path);
    if (!place.ok()) return false;
    struct stat st;
    const UniqueFd fd = OpenRegularAt(place.dir.get(), place.name.c_str(), O_RDONLY, false, &st);
    if (!fd.valid() || st.st_nlink != 1) return false;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixSeconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::futimens(fd.get(), times) == 0;
}

bool PosixFileSystem::KeepAttributes(const std::string& from, const std::string& to) {
    const Place source = Locate(from);
    const Place target = Locate(to);
    if (!source.ok() || !target.ok()) return false;
    struct stat original;
    if (::fstatat(source.dir.get(), source.name.c_str(), &original, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(original.st_mode)) {
        return false;
    }
    struct stat st;
    const UniqueFd fd = OpenRegularAt(target.dir.get(), target.name.c_str(), O_RDONLY, false, &st);
    if (!fd.valid() || st.st_nlink != 1) return false;
    // Owner first: a change of owner clears permission bits on some systems.
    const bool owned = (st.st_uid == original.st_uid && st.st_gid == original.st_gid) ||
                       ::fchown(fd.get(), original.st_uid, original.st_gid) == 0;
    const mode_t mode = (original.st_mode & 0777) | S_IWUSR;
    return ::fchmod(fd.get(), mode) == 0 && owned;
}

bool PosixFileSystem::SyncFile(const std::string& path) {
    const Place place = Locate(path);
    if (!place.ok()) return false;
    struct stat st;
    const UniqueFd fd =
        OpenRegularAt(place.dir.get(), place.name.c_str(), O_RDONLY, !place.confined, &st);
    if (!fd.valid()) return false;
    if (Flushed(fd.get())) return true;
    Note(errno);
    return false;
}

bool PosixFileSystem::SyncDirectory(const std::string& path) {
    const Place place = Locate(path.empty() ? std::string(".") : path);
    if (!place.ok()) return false;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (place.confined ? O_NOFOLLOW : 0);
    const UniqueFd fd(::openat(place.dir.get(), place.name.c_str(), flags));
    return fd.valid() && Flushed(fd.get());
}

}  // namespace morivane
