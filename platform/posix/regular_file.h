// Opening a file that must be a regular file, without ever blocking in
// open(): a FIFO, a device or a socket planted where a file is expected is
// refused before anything opens it, so that no program here hangs waiting
// for a writer or wakes a device driver. Shared by the POSIX file system of
// the update and by the publisher's commands.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morivane {

// Owns one file descriptor; closes it when it goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// Why OpenRegularAt refused or failed.
enum class OpenRefusal {
    kNone,        // opened
    kMissing,     // nothing at the name
    kLink,        // a symbolic link, and links are not followed
    kDirectory,   // a directory
    kSpecial,     // a FIFO, socket or device
    kChanged,     // something else stood there by the time it was opened
    kSystem,      // the system refused (errno tells why)
};

// Opens `name` in the directory `dir` (a descriptor, or AT_FDCWD) with the
// access mode and flags `flags` (O_RDONLY, O_WRONLY or O_RDWR; no O_CREAT),
// but only when it is a regular file: the entry is looked at first, then
// opened with O_NONBLOCK (and O_NOFOLLOW unless `followLink`), and the open
// file must be the very file looked at. O_NONBLOCK is cleared again before
// the descriptor is returned. `*st` receives the open file's status. An
// invalid descriptor when refused; `*why` (optional) tells the reason, and
// errno is kept from the call that failed.
UniqueFd OpenRegularAt(int dir, const char* name, int flags, bool followLink, struct stat* st,
                       OpenRefusal* why = nullptr);

// The same for a whole path, following links as the path says.
UniqueFd OpenRegularFile(const std::string& path, int flags, struct stat* st,
                         OpenRefusal* why = nullptr);

// The whole regular file at `path` (links followed), opened as
// OpenRegularFile does. Nothing when it is missing, not a regular file,
// larger than `maxSize` or cannot be read; *error then names the path and
// the reason in a sentence ("cannot read '<path>': it is a FIFO, not a
// regular file"). `*st` (optional) receives the file's status on success;
// `*missing` (optional) tells whether nothing at all is at the path (a
// dangling link is something).
std::optional<std::vector<std::uint8_t>> ReadWholeRegularFile(const std::string& path,
                                                              std::uint64_t maxSize,
                                                              std::string* error,
                                                              struct stat* st = nullptr,
                                                              bool* missing = nullptr);

// What an entry is, in words for a message: "a FIFO", "a symbolic link",
// "a directory", "a socket", "a character device", "a block device",
// "a regular file".
const char* DescribeFileType(mode_t mode);

}  // namespace morivane
