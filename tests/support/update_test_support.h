// Shared pieces of the `sabunn update` tests: where the built demo product and
// updater are, a temporary directory per test, full snapshots of a directory
// tree, running the built sabunn binary (also under a file-size limit or as
// another user), and small file systems of a test's own.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "update/product.h"

namespace morivane::updatetest {

using testing::ChildOptions;
using testing::kNobody;
using testing::RunCommand;
using testing::RunProgram;
using testing::RunResult;
using testing::TempDir;

namespace fs = std::filesystem;

inline const fs::path kDemoDir = MORIVANE_DEMO_DIR;
inline const fs::path kUpdaterExe = MORIVANE_UPDATER_EXE;
inline constexpr const char* kSabunn = SABUNN_PATH;

// 1998-10-15 15:00:00 UTC, the access and modification time every replaced
// file carries.
inline constexpr std::int64_t kStamp = kUpdateTimestamp;

// The five files of the demo installation, as relative POSIX paths, in run
// order: its executable Morivane.exe, then the data files of the file table.
inline const std::vector<std::string> kFiveFiles = [] {
    std::vector<std::string> files;
    for (const UpdateFile& file : kUpdateFiles) {
        std::string path = file.relativePath != nullptr ? file.relativePath : "Morivane.exe";
        for (char& c : path) {
            if (c == '\\') c = '/';
        }
        files.push_back(path);
    }
    return files;
}();
inline const std::vector<int> kPayloadIds = [] {
    std::vector<int> ids;
    for (const UpdateFile& file : kUpdateFiles) ids.push_back(file.payloadId);
    return ids;
}();

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void Spit(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Whether the native build made the demo product (old, new and payloads).
inline bool DemoBuilt() {
    for (const std::string& f : kFiveFiles) {
        if (!fs::exists(kDemoDir / "old" / f) || !fs::exists(kDemoDir / "new" / f)) return false;
    }
    for (int id : kPayloadIds) {
        if (!fs::exists(kDemoDir / "payloads" / (std::to_string(id) + ".sabunn"))) return false;
    }
    return true;
}

// Empty when the built MorivaneUpdate.exe carries this build's demo payloads;
// otherwise why not. The Win32 build stages the payloads it embeds into
// payloads/ beside the executable, so those copies tell what it carries.
inline std::string UpdaterMismatch() {
    if (!fs::exists(kUpdaterExe)) return "no MorivaneUpdate.exe at " + kUpdaterExe.string();
    for (int id : kPayloadIds) {
        const std::string name = std::to_string(id) + ".sabunn";
        const fs::path staged = kUpdaterExe.parent_path() / "payloads" / name;
        if (!fs::exists(staged) || Slurp(staged) != Slurp(kDemoDir / "payloads" / name)) {
            return kUpdaterExe.string() + " carries other payloads than this build's demo " +
                   "product (payload " + std::to_string(id) + "); build it with " +
                   "-DMORIVANE_PAYLOAD_DIR=" + (kDemoDir / "payloads").string();
        }
    }
    return {};
}

// One entry of a snapshot: its kind and permission bits, and for a file its
// content and modification time.
struct Entry {
    char kind = '?';  // 'f' file, 'd' directory, 'l' symbolic link
    unsigned mode = 0;
    std::string content;
    std::int64_t mtime = 0;
    bool operator==(const Entry&) const = default;
};
using Snapshot = std::map<std::string, Entry>;

// Every entry under `root` by relative path. With `withTimes`, file
// modification times are part of it.
inline Snapshot Take(const fs::path& root, bool withTimes = true) {
    Snapshot s;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st;
        if (::lstat(e.path().c_str(), &st) != 0) continue;
        Entry entry;
        entry.mode = st.st_mode & 07777;
        if (S_ISDIR(st.st_mode)) {
            entry.kind = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            entry.kind = 'l';
        } else {
            entry.kind = 'f';
            entry.content = Slurp(e.path());
            if (withTimes) entry.mtime = st.st_mtime;
        }
        s[fs::relative(e.path(), root).string()] = entry;
    }
    return s;
}

// A snapshot with permission bits and times left out: what an updated
// installation shares with the demo's new tree.
inline Snapshot NamesAndContents(const fs::path& root) {
    Snapshot s = Take(root, false);
    for (auto& [name, e] : s) e.mode = 0;
    return s;
}

// A readable account of how two snapshots differ, empty when they agree.
inline std::string Differences(const Snapshot& expected, const Snapshot& actual) {
    std::string d;
    for (const auto& [name, e] : expected) {
        auto it = actual.find(name);
        if (it == actual.end()) {
            d += "  missing: " + name + "\n";
        } else if (!(it->second == e)) {
            d += "  changed: " + name + (it->second.kind != e.kind ? " (kind)" : "") +
                 (it->second.mode != e.mode ? " (mode)" : "") +
                 (it->second.content != e.content ? " (content)" : "") +
                 (it->second.mtime != e.mtime ? " (mtime)" : "") + "\n";
        }
    }
    for (const auto& [name, e] : actual) {
        if (!expected.count(name)) d += "  extra: " + name + "\n";
    }
    return d;
}

// The demo's payloads copied to `to` without their sums: a payload set made
// before sums existed, which the update applies without checking the files.
inline void CopyPayloadsWithoutSums(const fs::path& to) {
    fs::create_directories(to);
    for (const auto& entry : fs::directory_iterator(kDemoDir / "payloads")) {
        if (entry.path().extension() == ".sabunn") {
            fs::copy_file(entry.path(), to / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
        }
    }
}

// The five files carry the stamp as both times, and the tree has exactly the
// demo's new names and contents. The executable's access time is not
// compared: the run reads it once more after its stamp, for the Version
// record; nor are any when a later start has read the files (`readSince`).
inline void ExpectNewTree(const fs::path& dir, bool readSince = false) {
    for (const std::string& f : kFiveFiles) {
        struct stat st;
        ASSERT_EQ(::stat((dir / f).c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mtime, kStamp) << f;
        if (f != kFiveFiles[0] && !readSince) {
            EXPECT_EQ(st.st_atime, kStamp) << f;
        }
    }
    EXPECT_EQ(Differences(NamesAndContents(kDemoDir / "new"), NamesAndContents(dir)), "");
}

// Sets the immutable attribute on a file or directory (nothing inside an
// immutable directory can be created, removed or renamed, not even by root)
// and clears it again at the end.
class Immutable {
  public:
    explicit Immutable(const fs::path& path) : path_(path) { ok_ = Set(true); }
    ~Immutable() {
        if (ok_) Set(false);
    }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;
    bool ok() const { return ok_; }

  private:
    bool Set(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }
    fs::path path_;
    bool ok_ = false;
};

// A tmpfs of its own, unmounted at the end. Its size and inode count can be
// changed while files are on it, which is how tests give a run exactly the
// room they want.
class Tmpfs {
  public:
    explicit Tmpfs(const fs::path& at, const std::string& options = "size=64m") : at_(at) {
        fs::create_directories(at_);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~Tmpfs() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool mounted() const { return mounted_; }
    const fs::path& path() const { return at_; }
    // Bytes of file data on it (whole pages).
    std::uint64_t UsedBytes() const {
        struct statvfs v;
        if (::statvfs(at_.c_str(), &v) != 0) return 0;
        return (v.f_blocks - v.f_bfree) * v.f_frsize;
    }
    // Inodes in use, its root directory included.
    std::uint64_t UsedInodes() const {
        struct statvfs v;
        if (::statvfs(at_.c_str(), &v) != 0) return 0;
        return v.f_files - v.f_ffree;
    }
    bool Resize(std::uint64_t bytes) { return Remount("size=" + std::to_string(bytes)); }
    // Remounts with other options ("nr_inodes=N", "ro", ...). The kernel
    // refuses a size or inode count below what is in use.
    bool Remount(const std::string& options) {
        return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
    }

  private:
    fs::path at_;
    bool mounted_ = false;
};

}  // namespace morivane::updatetest
