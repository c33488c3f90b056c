// What the adversarial tests plant and how they tell that nothing was
// touched: symbolic and hard links, FIFOs, sockets and devices, and a full
// record of a directory tree that never opens anything but regular files (a
// FIFO in the tree must not hang the test that looks at it).
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

namespace morivane::testing {

// One entry of a tree: its kind ('f' file, 'd' directory, 'l' symbolic link,
// 'p' FIFO, 's' socket, 'c' or 'b' device), permission bits and owner, and
// for a file its bytes and modification time, for a link where it leads.
struct TreeEntry {
    char kind = '?';
    unsigned mode = 0;
    unsigned uid = 0;
    unsigned gid = 0;
    std::string content;
    std::int64_t mtime = 0;
    bool operator==(const TreeEntry&) const = default;
};
using Tree = std::map<std::string, TreeEntry>;

// The bytes of the regular file at `path`, read without ever blocking.
inline std::string ReadRegular(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return "<unreadable>";
    struct stat st;
    std::string bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    } else {
        bytes = "<not a regular file>";
    }
    ::close(fd);
    return bytes;
}

inline char KindOf(mode_t mode) {
    if (S_ISREG(mode)) return 'f';
    if (S_ISDIR(mode)) return 'd';
    if (S_ISLNK(mode)) return 'l';
    if (S_ISFIFO(mode)) return 'p';
    if (S_ISSOCK(mode)) return 's';
    if (S_ISCHR(mode)) return 'c';
    if (S_ISBLK(mode)) return 'b';
    return '?';
}

// Every entry under `root` by relative path (the root itself as "."),
// without following links.
inline Tree Capture(const std::filesystem::path& root) {
    Tree tree;
    auto add = [&tree, &root](const std::filesystem::path& path) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return;
        TreeEntry e;
        e.kind = KindOf(st.st_mode);
        e.mode = st.st_mode & 07777;
        e.uid = st.st_uid;
        e.gid = st.st_gid;
        if (e.kind == 'f') {
            e.content = ReadRegular(path);
            e.mtime = st.st_mtime;
        } else if (e.kind == 'l') {
            e.content = std::filesystem::read_symlink(path).string();
        }
        tree[path.lexically_relative(root).string()] = e;
    };
    add(root);
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(
             root, std::filesystem::directory_options::none, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        add(it->path());
    }
    return tree;
}

// How two trees differ, one line per entry; empty when they agree.
inline std::string TreeDifferences(const Tree& before, const Tree& after) {
    std::string d;
    for (const auto& [name, e] : before) {
        const auto it = after.find(name);
        if (it == after.end()) {
            d += "  gone: " + name + "\n";
        } else if (!(it->second == e)) {
            const TreeEntry& a = it->second;
            d += "  changed: " + name + (a.kind != e.kind ? " (kind)" : "") +
                 (a.mode != e.mode ? " (mode)" : "") +
                 (a.uid != e.uid || a.gid != e.gid ? " (owner)" : "") +
                 (a.content != e.content ? " (content)" : "") +
                 (a.mtime != e.mtime ? " (mtime)" : "") + "\n";
        }
    }
    for (const auto& [name, e] : after) {
        if (before.count(name) == 0) d += "  new: " + name + "\n";
    }
    return d;
}

// The special files a hostile account can leave where a file is expected.
enum class Special { kFifo, kSocket, kDevice };

inline const char* WordFor(Special kind) {
    switch (kind) {
        case Special::kFifo:
            return "a FIFO";
        case Special::kSocket:
            return "a socket";
        case Special::kDevice:
            return "a character device";
    }
    return "";
}

// Makes one at `path`; false when this system does not let it be made here
// (a device needs root and a file system mounted without nodev).
inline bool MakeSpecial(Special kind, const std::filesystem::path& path) {
    switch (kind) {
        case Special::kFifo:
            return ::mkfifo(path.c_str(), 0666) == 0;
        case Special::kSocket: {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) return false;
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            const std::string text = path.string();
            if (text.size() >= sizeof address.sun_path) {
                ::close(fd);
                return false;
            }
            std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
            const bool bound =
                ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);  // the socket file stays
            return bound;
        }
        case Special::kDevice:
            // The kernel's null device, 1:3.
            return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    }
    return false;
}

}  // namespace morivane::testing
