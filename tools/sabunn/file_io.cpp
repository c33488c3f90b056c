#include "tools/sabunn/file_io.h"

#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace morivane::sabunn {

namespace {

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::string Reason() {
    return std::strerror(errno);
}

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (it can report a
    // delayed write error).
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

// The directory part of `path` with its separator ("" for a bare name) and
// the last component.
std::pair<std::string, std::string> Split(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string* error) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        *error = "cannot open " + Quoted(path) + ": " + Reason();
        return std::nullopt;
    }
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) {
        *error = "cannot read " + Quoted(path) + ": " + Reason();
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "cannot read " + Quoted(path) + ": not a regular file";
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxFileSize) {
        *error = "cannot read " + Quoted(path) + ": larger than 2 GiB";
        return std::nullopt;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t got = ::read(fd.get(), data.data() + done, data.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = "cannot read " + Quoted(path) + ": " + Reason();
            return std::nullopt;
        }
        if (got == 0) {
            *error = "cannot read " + Quoted(path) + ": the file shrank while being read";
            return std::nullopt;
        }
        done += static_cast<std::size_t>(got);
    }
    return data;
}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& path, std::string* error) {
    const auto [directory, name] = Split(path);
    if (name.empty()) {
        *error = "cannot write " + Quoted(path) + ": not a file name";
        return nullptr;
    }
    // A hidden name, so that a crash leaves only an obviously temporary file.
    std::string pattern = directory + "." + name + ".partial-XXXXXX";
    Descriptor fd(::mkstemp(pattern.data()));
    if (!fd.valid()) {
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return nullptr;
    }
    std::unique_ptr<PendingFile> file(new PendingFile(path, pattern));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd.get(), 0666 & ~mask) != 0 || !fd.Close()) {
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return nullptr;
    }
    return file;
}

PendingFile::~PendingFile() {
    if (!committed_) ::unlink(name_.c_str());
}

bool PendingFile::Commit(std::string* error) {
    Descriptor fd(::open(name_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0 || !fd.Close() ||
        ::rename(name_.c_str(), target_.c_str()) != 0) {
        *error = "cannot put the new file in place at " + Quoted(target_) + ": " + Reason();
        return false;
    }
    committed_ = true;
    return true;
}

bool WriteFileAtomically(const std::string& path, ByteSpan data, std::string* error) {
    std::unique_ptr<PendingFile> pending = PendingFile::Create(path, error);
    if (!pending) return false;
    Descriptor fd(::open(pending->name().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd.valid()) {
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return false;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::write(fd.get(), data.data() + done, data.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) {
            *error = "cannot write " + Quoted(path) + ": " + Reason();
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    if (!fd.Close()) {
        *error = "cannot write " + Quoted(path) + ": " + Reason();
        return false;
    }
    return pending->Commit(error);
}

std::string SumsPathBeside(const std::string& payloadPath) {
    constexpr std::string_view kPayload = ".sabunn";
    std::string_view stem = payloadPath;
    if (stem.ends_with(kPayload)) stem.remove_suffix(kPayload.size());
    return std::string(stem) + ".sum";
}

}  // namespace morivane::sabunn
