#include "tools/sabunn/file_io.h"

#include "platform/posix/regular_file.h"

#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

namespace morivane::sabunn {

namespace {

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::string Reason() {
    return std::strerror(errno);
}

FileId IdOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// "'<path>': it is a FIFO, not a regular file".
std::string NotRegular(const std::string& path, mode_t mode) {
    return Quoted(path) + ": it is " + DescribeFileType(mode) + ", not a regular file";
}

// The directory part of `path` ("." for a bare name) and the last component.
std::pair<std::string, std::string> Split(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// A name for the temporary file that nobody can guess ahead of it.
std::string TemporaryName(const std::string& name) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string suffix(8, ' ');
    for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
    // Hidden, so that a crash leaves only an obviously temporary file.
    return "." + name + ".partial-" + suffix;
}

// Whether the entry `name` in the open directory `directory` may be replaced
// by an output: nothing there, a regular file that is no input, or a
// symbolic link that does not lead to an input. *existing receives what the
// entry itself is, when there is one. *refused tells a refusal from a failure
// to look.
bool MayReplace(int directory, const std::string& name, const std::string& path,
                const Inputs& inputs, std::optional<FileId>* existing, bool* refused,
                std::string* error) {
    *refused = true;
    struct stat entry;
    if (::fstatat(directory, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        *refused = false;
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return false;
    }
    *existing = IdOf(entry);
    if (S_ISLNK(entry.st_mode)) {
        // A link is replaced, not followed; one that leads to an input is
        // still refused, since whoever gave it meant that file.
        struct stat target;
        const std::string* input = nullptr;
        if (::fstatat(directory, name.c_str(), &target, 0) == 0 &&
            (input = inputs.Find(IdOf(target))) != nullptr) {
            *error = "refusing to write " + Quoted(path) + ": it is a symbolic link to the input " +
                     Quoted(*input);
            return false;
        }
        return true;
    }
    if (!S_ISREG(entry.st_mode)) {
        *error = "refusing to write " + NotRegular(path, entry.st_mode) + "; it is left alone";
        return false;
    }
    if (const std::string* input = inputs.Find(IdOf(entry))) {
        *error = "refusing to write " + Quoted(path) + ": it is the input " + Quoted(*input) +
                 (*input == path ? "" : " (the same file)");
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::string* error,
                                                       FileId* id, bool* missing) {
    struct stat info;
    auto data = ReadWholeRegularFile(path, kMaxFileSize, error, &info, missing);
    if (data && id != nullptr) *id = IdOf(info);
    return data;
}

std::optional<std::vector<std::uint8_t>> Inputs::Read(const std::string& path, std::string* error) {
    FileId id;
    auto bytes = ReadWholeFile(path, error, &id);
    if (bytes) files_.emplace_back(id, path);
    return bytes;
}

std::optional<std::vector<std::uint8_t>> Inputs::ReadSums(const std::string& path, bool* missing,
                                                          std::string* error) {
    FileId id;
    auto bytes = ReadWholeFile(path, error, &id, missing);
    if (!bytes) return std::nullopt;
    if (const std::string* input = Find(id)) {
        *error = "the sums " + Quoted(path) + " are the input " + Quoted(*input) +
                 " itself (the same file), not sums";
        return std::nullopt;
    }
    files_.emplace_back(id, path);
    return bytes;
}

const std::string* Inputs::Find(const FileId& id) const {
    for (const auto& [known, path] : files_) {
        if (known == id) return &path;
    }
    return nullptr;
}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& path, const Inputs& inputs,
                                                 std::string* error, bool* refused) {
    bool refusal = false;
    if (refused == nullptr) refused = &refusal;
    *refused = false;
    const auto [directory, name] = Split(path);
    if (name.empty() || name == "." || name == "..") {
        *error = "cannot write " + Quoted(path) + ": not a file name";
        return nullptr;
    }
    std::unique_ptr<PendingFile> file(new PendingFile());
    file->target_ = path;
    file->name_ = name;
    // The directory is held open, so that every later step acts in the
    // directory that was checked, whatever happens to its path meanwhile.
    file->directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info;
    if (file->directory_ < 0 || ::fstat(file->directory_, &info) != 0) {
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return nullptr;
    }
    file->directoryId_ = IdOf(info);
    file->inputs_ = inputs;
    if (!MayReplace(file->directory_, name, path, inputs, &file->existing_, refused, error)) {
        return nullptr;
    }
    *refused = false;
    for (int probe = 0;; ++probe) {
        std::string temporary = TemporaryName(name);
        const int fd = ::openat(file->directory_, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file->fd_ = fd;
            file->temporary_ = std::move(temporary);
            break;
        }
        if (errno != EEXIST || probe == 100) {
            *error = "cannot write " + Quoted(path) + ": " + Reason();
            return nullptr;
        }
    }
    if (::fstat(file->fd_, &info) != 0) {
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return nullptr;
    }
    file->temporaryId_ = IdOf(info);
    return file;
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    // Only the file this object made is removed, never what someone else may
    // have put under its name since.
    struct stat info;
    if (!committed_ && !temporary_.empty() &&
        ::fstatat(directory_, temporary_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        IdOf(info) == temporaryId_) {
        ::unlinkat(directory_, temporary_.c_str(), 0);
    }
    if (directory_ >= 0) ::close(directory_);
}

bool PendingFile::SameTarget(const PendingFile& other) const {
    return (directoryId_ == other.directoryId_ && name_ == other.name_) ||
           (existing_ && other.existing_ && *existing_ == *other.existing_);
}

bool PendingFile::Write(ByteSpan data, std::string* error) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::write(fd_, data.data() + done, data.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) {
            *error = "cannot write " + Quoted(target_) + ": " + Reason();
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool PendingFile::Commit(std::string* error) {
    const std::string failed = "cannot put the new file in place at " + Quoted(target_) + ": ";
    if (::fsync(fd_) != 0 || ::close(std::exchange(fd_, -1)) != 0) {
        *error = failed + Reason();
        return false;
    }
    // The temporary name must still be this file, and the output path must
    // still be something that may be replaced.
    struct stat info;
    if (::fstatat(directory_, temporary_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        IdOf(info) != temporaryId_) {
        *error = failed + "its temporary file " + Quoted(temporary_) + " was replaced";
        return false;
    }
    std::optional<FileId> existing;
    bool refused = false;
    if (!MayReplace(directory_, name_, target_, inputs_, &existing, &refused, error)) return false;
    if (::renameat(directory_, temporary_.c_str(), directory_, name_.c_str()) != 0) {
        *error = failed + Reason();
        return false;
    }
    committed_ = true;
    return true;
}

bool WriteFileAtomically(const std::string& path, ByteSpan data, const Inputs& inputs,
                         std::string* error) {
    std::unique_ptr<PendingFile> pending = PendingFile::Create(path, inputs, error);
    return pending && pending->Write(data, error) && pending->Commit(error);
}

std::string SumsPathBeside(const std::string& payloadPath) {
    constexpr std::string_view kPayload = ".sabunn";
    std::string_view stem = payloadPath;
    if (stem.ends_with(kPayload)) stem.remove_suffix(kPayload.size());
    return std::string(stem) + ".sum";
}

}  // namespace morivane::sabunn
