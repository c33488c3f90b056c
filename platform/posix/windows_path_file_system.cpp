#include "platform/posix/windows_path_file_system.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>

#include "seams/code_page.h"

namespace morivane {

namespace {

// The first backslash at or after `pos` that is a separator, not the trail
// byte of a double-byte character (as in "ソ", 0x83 0x5C); npos if none.
std::size_t NextSeparator(const std::string& path, std::size_t pos) {
    for (std::size_t i = pos; i < path.size(); ++i) {
        if (IsCp932LeadByte(static_cast<std::uint8_t>(path[i])) && i + 1 < path.size()) {
            ++i;
        } else if (path[i] == '\\') {
            return i;
        }
    }
    return std::string::npos;
}

std::string Join(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + '/' + name;
}

// Closes a directory stream on every path.
class DirectoryStream {
  public:
    explicit DirectoryStream(const std::string& path) : dir_(opendir(path.c_str())) {}
    ~DirectoryStream() {
        if (dir_ != nullptr) closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* get() const { return dir_; }

  private:
    DIR* dir_;
};

}  // namespace

WindowsPathFileSystem::WindowsPathFileSystem(FileSystem& real, std::string root)
    : real_(real), root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    prefix_ = "<install-dir>\\";
}

WindowsPathFileSystem::Lookup WindowsPathFileSystem::FindEntry(const std::string& directory,
                                                               const std::string& name) {
    struct stat st;
    if (lstat(Join(directory, name).c_str(), &st) == 0) return {name, false};

    DirectoryStream dir(directory);
    if (dir.get() == nullptr) return {};
    Lookup found;
    int matches = 0;
    while (const dirent* entry = readdir(dir.get())) {
        if (SameIgnoringAsciiCase(entry->d_name, name)) {
            found.entry = entry->d_name;
            ++matches;
        }
    }
    // Two entries that differ only in case cannot both be the file Windows
    // would open; taking either could patch the wrong one.
    if (matches > 1) return {std::string(), true};
    return found;
}

std::string WindowsPathFileSystem::RealPath(const std::string& path) {
    if (path.compare(0, prefix_.size(), prefix_) != 0) return path;

    std::string real = root_;
    std::string folded;  // the virtual path so far, case-folded
    std::size_t pos = prefix_.size();
    while (pos <= path.size()) {
        std::size_t end = NextSeparator(path, pos);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty()) continue;  // "a\\b" means "a\b", as on Windows

        folded += '\\';
        folded += FoldAsciiCase(name);
        const Lookup lookup = FindEntry(real, name);
        std::string entry = name;
        if (!lookup.entry.empty()) {
            entry = lookup.entry;
            foundAt_[folded] = entry;
        } else if (auto it = foundAt_.find(folded); !lookup.ambiguous && it != foundAt_.end()) {
            entry = it->second;
        }
        real = Join(real, entry);
    }
    return real;
}

std::unique_ptr<InputFile> WindowsPathFileSystem::OpenForReading(const std::string& path) {
    return Inside(path) ? real_.OpenForReading(RealPath(path)) : nullptr;
}

std::unique_ptr<OutputFile> WindowsPathFileSystem::CreateForWriting(const std::string& path) {
    return Inside(path) ? real_.CreateForWriting(RealPath(path)) : nullptr;
}

std::unique_ptr<OutputFile> WindowsPathFileSystem::CreateNew(const std::string& path) {
    return Inside(path) ? real_.CreateNew(RealPath(path)) : nullptr;
}

std::unique_ptr<InputFile> WindowsPathFileSystem::OpenUnshared(const std::string& path,
                                                               bool* inUse) {
    *inUse = false;
    return Inside(path) ? real_.OpenUnshared(RealPath(path), inUse) : nullptr;
}

bool WindowsPathFileSystem::Exists(const std::string& path) {
    return Inside(path) && real_.Exists(RealPath(path));
}

bool WindowsPathFileSystem::IsWritable(const std::string& path) {
    return Inside(path) && real_.IsWritable(RealPath(path));
}

bool WindowsPathFileSystem::MakeWritable(const std::string& path) {
    return Inside(path) && real_.MakeWritable(RealPath(path));
}

bool WindowsPathFileSystem::Delete(const std::string& path) {
    return Inside(path) && real_.Delete(RealPath(path));
}

bool WindowsPathFileSystem::Move(const std::string& from, const std::string& to) {
    if (!Inside(from) || !Inside(to)) return false;
    const std::string realFrom = RealPath(from);
    return real_.Move(realFrom, RealPath(to));
}

bool WindowsPathFileSystem::SetTimes(const std::string& path, std::int64_t unixSeconds) {
    return Inside(path) && real_.SetTimes(RealPath(path), unixSeconds);
}

bool WindowsPathFileSystem::KeepAttributes(const std::string& from, const std::string& to) {
    return Inside(from) && Inside(to) && real_.KeepAttributes(RealPath(from), RealPath(to));
}

bool WindowsPathFileSystem::SyncFile(const std::string& path) {
    return Inside(path) && real_.SyncFile(RealPath(path));
}

bool WindowsPathFileSystem::SyncDirectory(const std::string& path) {
    return Inside(path) && real_.SyncDirectory(RealPath(path));
}

}  // namespace morivane
