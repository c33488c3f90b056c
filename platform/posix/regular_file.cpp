#include "platform/posix/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace morivane {

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd OpenRegularAt(int dir, const char* name, int flags, bool followLink, struct stat* st,
                       OpenRefusal* why) {
    OpenRefusal ignored;
    if (why == nullptr) why = &ignored;
    *why = OpenRefusal::kSystem;

    struct stat seen;
    if (::fstatat(dir, name, &seen, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) *why = OpenRefusal::kMissing;
        return UniqueFd();
    }
    if (!S_ISREG(seen.st_mode)) {
        *why = S_ISLNK(seen.st_mode)   ? OpenRefusal::kLink
               : S_ISDIR(seen.st_mode) ? OpenRefusal::kDirectory
                                       : OpenRefusal::kSpecial;
        errno = S_ISDIR(seen.st_mode) ? EISDIR : ENXIO;
        return UniqueFd();
    }
    // Non-blocking, so that a FIFO swapped in after the look above cannot
    // hold the open; the check below then refuses it.
    const int extra = O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW);
    UniqueFd fd(::openat(dir, name, flags | extra));
    if (!fd.valid()) {
        if (errno == ELOOP) *why = OpenRefusal::kLink;
        if (errno == ENOENT) *why = OpenRefusal::kChanged;
        return fd;
    }
    if (::fstat(fd.get(), st) != 0) return UniqueFd();
    if (!S_ISREG(st->st_mode) || st->st_dev != seen.st_dev || st->st_ino != seen.st_ino) {
        *why = OpenRefusal::kChanged;
        errno = ENXIO;
        return UniqueFd();
    }
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) return UniqueFd();
    *why = OpenRefusal::kNone;
    return fd;
}

UniqueFd OpenRegularFile(const std::string& path, int flags, struct stat* st, OpenRefusal* why) {
    return OpenRegularAt(AT_FDCWD, path.c_str(), flags, true, st, why);
}

std::optional<std::vector<std::uint8_t>> ReadWholeRegularFile(const std::string& path,
                                                              std::uint64_t maxSize,
                                                              std::string* error, struct stat* st,
                                                              bool* missing) {
    const std::string named = "cannot read '" + path + "': ";
    if (missing != nullptr) *missing = false;
    struct stat opened;
    OpenRefusal why = OpenRefusal::kNone;
    const UniqueFd fd = OpenRegularFile(path, O_RDONLY, &opened, &why);
    if (!fd.valid()) {
        const int cause = errno;
        struct stat found;
        if (why == OpenRefusal::kMissing) {
            const bool dangling = ::lstat(path.c_str(), &found) == 0;
            if (missing != nullptr) *missing = !dangling;
            *error = named + (dangling ? "it is a symbolic link that leads nowhere" : ::strerror(ENOENT));
        } else if (why != OpenRefusal::kSystem && ::stat(path.c_str(), &found) == 0) {
            *error = named + "it is " + DescribeFileType(found.st_mode) + ", not a regular file";
        } else {
            *error = named + ::strerror(cause);
        }
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(opened.st_size) > maxSize) {
        *error = named + "it is larger than " + std::to_string(maxSize) + " bytes";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(opened.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = named + (n < 0 ? ::strerror(errno) : "it shrank while being read");
            return std::nullopt;
        }
        done += static_cast<std::size_t>(n);
    }
    if (st != nullptr) *st = opened;
    return bytes;
}

const char* DescribeFileType(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "a special file";
}

}  // namespace morivane
