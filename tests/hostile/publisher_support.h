// What the hostile tests of the publisher's commands share: a scene of files
// in a fresh directory (the publisher's folder "work" and a folder "outside"
// that links may lead to), a record of every entry in it, and sabunn run with
// a time limit so that a command that blocks fails its case instead of
// hanging the suite.
#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/pe_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/seeded_content.h"
#include "tests/support/temp_dir.h"

namespace morivane::hostile {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing::RunResult;

// Seconds a command may take. Every command here finishes in milliseconds;
// one that waits on a FIFO is killed at the limit.
inline constexpr int kTimeLimit = 10;
inline constexpr int kTimedOut = 124;  // timeout(1)'s status

class PublisherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(root_.path().empty() || scratch_.path().empty()) << "no temporary directory";
        fs::create_directory(work_);
        fs::create_directory(outside_);
    }

    // The publisher's usual files in "work": old and new (4,000 bytes apart
    // in a few places), the payload p.sabunn that `sabunn make` built from
    // them with its sums p.sum, its script s.bin, and a module m.exe that
    // carries the payload as "SABUNN" 130.
    void MakeScene() {
        old_ = testdata::Random(4000, 1);
        new_ = old_;
        for (std::size_t i = 100; i < new_.size(); i += 700) new_[i] ^= 0x5A;
        Write(W("old"), old_);
        Write(W("new"), new_);
        const RunResult made = Sabunn({"make", W("old"), W("new"), "-o", W("p.sabunn")});
        ASSERT_EQ(made.status, 0) << made.err;
        const RunResult unpacked = Sabunn({"unpack", W("p.sabunn"), "-o", W("s.bin")});
        ASSERT_EQ(unpacked.status, 0) << unpacked.err;
        payload_ = Read(W("p.sabunn"));
        Write(W("m.exe"), petest::BuildImage(petest::SabunnTree({{130, u"", payload_}})));
    }

    // The path of `name` in the publisher's folder.
    std::string W(const std::string& name) const { return (work_ / name).string(); }
    // The path of `name` in the folder outside it.
    std::string O(const std::string& name) const { return (outside_ / name).string(); }

    static void Write(const std::string& path, const Bytes& data) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // Places a FIFO, a listening socket's file or a directory at `path`.
    static void MakeFifo(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }
    void MakeSocket(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path);
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockets_.push_back(fd);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
    }

    // Every entry under the scene, by relative path: its kind and, for a
    // regular file, its inode, size and a hash of its bytes (readable in a
    // failure, and any change of a byte shows); for a link, where it leads.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> entries;
        for (const auto& e : fs::recursive_directory_iterator(root_.path())) {
            const std::string name = fs::relative(e.path(), root_.path()).string();
            struct stat info;
            if (::lstat(e.path().c_str(), &info) != 0) {
                entries[name] = "vanished";
            } else if (S_ISLNK(info.st_mode)) {
                entries[name] = "link to " + fs::read_symlink(e.path()).string();
            } else if (S_ISREG(info.st_mode)) {
                const Bytes bytes = Read(e.path());
                const std::string_view view(reinterpret_cast<const char*>(bytes.data()),
                                            bytes.size());
                entries[name] = "file, inode " + std::to_string(info.st_ino) + ", " +
                                std::to_string(bytes.size()) + " bytes, hash " +
                                std::to_string(std::hash<std::string_view>{}(view));
            } else if (S_ISDIR(info.st_mode)) {
                entries[name] = "directory";
            } else {
                entries[name] = "special " + std::to_string(info.st_mode & S_IFMT);
            }
        }
        return entries;
    }

    // Runs sabunn with `args` under the time limit.
    RunResult Sabunn(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {"/usr/bin/timeout", "-k", "2", std::to_string(kTimeLimit),
                                         SABUNN_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult r = testing::RunProgram(argv, scratch_.path());
        EXPECT_NE(r.status, kTimedOut)
            << "sabunn blocked and was killed after " << kTimeLimit << " s: " << Joined(args);
        return r;
    }

    // Runs a command that must be refused: exit status 1, `message` on
    // stderr, and every entry of the scene as it was.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& message) {
        SCOPED_TRACE(Joined(args));
        const auto before = Snapshot();
        const RunResult r = Sabunn(args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << "wanted: " << message << "\n" << r.err;
        EXPECT_EQ(Snapshot(), before);
    }

    // Runs a command that must succeed and write exactly `outputs` (by path
    // under the scene: each a regular file, new, with those bytes), leaving
    // every other entry as it was.
    void ExpectWrote(const std::vector<std::string>& args,
                     const std::map<std::string, Bytes>& outputs) {
        SCOPED_TRACE(Joined(args));
        auto before = Snapshot();
        const RunResult r = Sabunn(args);
        ASSERT_EQ(r.status, 0) << r.err;
        auto after = Snapshot();
        for (const auto& [path, bytes] : outputs) {
            const std::string name = fs::relative(path, root_.path()).string();
            struct stat info;
            ASSERT_EQ(::lstat(path.c_str(), &info), 0) << name;
            EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
            EXPECT_NE(after[name], before[name]) << name << " was not replaced";
            EXPECT_TRUE(Read(path) == bytes) << name;
            before.erase(name);
            after.erase(name);
        }
        EXPECT_EQ(after, before);
    }

    static std::string Joined(const std::vector<std::string>& args) {
        std::string line = "sabunn";
        for (const std::string& a : args) line += " " + a;
        return line;
    }

    ~PublisherTest() override {
        for (int fd : sockets_) ::close(fd);
    }

    testing::TempDir root_{"hostile_publisher"};
    testing::TempDir scratch_{"hostile_scratch"};
    const fs::path work_ = root_.path() / "work";
    const fs::path outside_ = root_.path() / "outside";
    std::vector<int> sockets_;
    Bytes old_, new_, payload_;
};

}  // namespace morivane::hostile
