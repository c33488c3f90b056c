#include "platform/posix/posix_file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "patch/diff_patcher.h"
#include "platform/directory_payload_store.h"
#include "platform/flush_outcome.h"
#include "platform/held_file.h"
#include "platform/memory_payload_store.h"
#include "tests/support/born_locked.h"
#include "tests/support/test_scripts.h"
#include "tests/support/hostile_tree.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/temp_dir.h"
#include "ui/catalogue.h"

namespace morivane {
namespace {

using testing::MakeScript;

using testing::TempDir;

void WriteFile(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(content.data(), 1, content.size(), f), content.size());
    ASSERT_EQ(fclose(f), 0);
}

std::string ReadFile(const std::string& path) {
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

off_t SizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(PosixFileSystemTest, ReadsWritesAndRefusesDirectories) {
    TempDir dir;
    PosixFileSystem fs;
    WriteFile(dir / "old", "ABCDEFGHIJ");
    auto in = fs.OpenForReading(dir / "old");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->Length(), 10);
    char buf[12] = {};
    EXPECT_EQ(in->Read(buf, 4, 3), 2u);  // a partial last item is not counted
    EXPECT_EQ(std::string(buf, 10), "ABCDEFGHIJ");

    EXPECT_EQ(fs.OpenForReading(dir / "missing"), nullptr);
    EXPECT_EQ(fs.OpenForReading(dir.path()), nullptr);
    EXPECT_EQ(fs.CreateForWriting(dir.path()), nullptr);

    auto out = fs.CreateForWriting(dir / "old");  // empties it
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->Write("wxyz1234", 4, 2), 2u);
    EXPECT_TRUE(out->Close());
    EXPECT_EQ(ReadFile(dir / "old"), "wxyz1234");
}

TEST(PosixFileSystemTest, MoveNeverReplaces) {
    TempDir dir;
    PosixFileSystem fs;
    WriteFile(dir / "a", "first");
    WriteFile(dir / "b", "second");
    EXPECT_FALSE(fs.Move(dir / "a", dir / "b"));
    EXPECT_EQ(ReadFile(dir / "a"), "first");
    EXPECT_EQ(ReadFile(dir / "b"), "second");
    EXPECT_TRUE(fs.Delete(dir / "b"));
    EXPECT_FALSE(fs.Exists(dir / "b"));
    EXPECT_TRUE(fs.Move(dir / "a", dir / "b"));
    EXPECT_FALSE(fs.Exists(dir / "a"));
    EXPECT_EQ(ReadFile(dir / "b"), "first");
    EXPECT_FALSE(fs.Move(dir / "a", dir / "c"));  // nothing to move
    EXPECT_FALSE(fs.Delete(dir.path()));          // not a file
}

TEST(PosixFileSystemTest, WritableBitAndTimes) {
    TempDir dir;
    PosixFileSystem fs;
    const std::string f = dir / "f";
    WriteFile(f, "x");
    ASSERT_EQ(chmod(f.c_str(), 0444), 0);
    EXPECT_FALSE(fs.IsWritable(f));
    EXPECT_TRUE(fs.MakeWritable(f));
    EXPECT_TRUE(fs.IsWritable(f));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // the other bits are kept
    EXPECT_FALSE(fs.IsWritable(dir / "missing"));
    EXPECT_FALSE(fs.MakeWritable(dir / "missing"));

    // 1998-10-15 15:00:00 UTC.
    EXPECT_TRUE(fs.SetTimes(f, 908463600));
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 908463600);
    EXPECT_EQ(st.st_atim.tv_sec, 908463600);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    EXPECT_FALSE(fs.SetTimes(dir / "missing", 0));
}

// --- Hostile folders: links, special files, names made by others ---------

struct stat StatOf(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

TEST(PosixFileSystemTest, NothingIsWrittenReModedOrStampedThroughALink) {
    TempDir dir;
    const std::string root = dir / "root";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    WriteFile(dir / "victim", "someone else's");
    ASSERT_EQ(chmod((dir / "victim").c_str(), 0444), 0);
    ASSERT_EQ(symlink((dir / "victim").c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(link((dir / "victim").c_str(), (root + "/hard").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (root + "/dangling").c_str()), 0);
    WriteFile(root + "/own", "own");
    const testing::Tree before = testing::Capture(dir.path());

    PosixFileSystem fs(root);
    for (const char* name : {"/link", "/hard", "/dangling"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fs.Exists(root + name));
        EXPECT_EQ(fs.CreateForWriting(root + name), nullptr);
        EXPECT_EQ(fs.CreateNew(root + name), nullptr);
        EXPECT_FALSE(fs.IsWritable(root + name));
        EXPECT_FALSE(fs.MakeWritable(root + name));
        EXPECT_FALSE(fs.SetTimes(root + name, 908463600));
        EXPECT_FALSE(fs.KeepAttributes(root + "/own", root + name));
    }
    EXPECT_EQ(fs.OpenForReading(root + "/link"), nullptr);  // not followed in the root
    EXPECT_EQ(testing::TreeDifferences(before, testing::Capture(dir.path())), "");
    EXPECT_FALSE(fs.Exists(dir / "nowhere"));

    // Removing the names leaves what they led to; outside the root a link
    // to a file is read as the caller asks.
    EXPECT_TRUE(fs.Delete(root + "/link"));
    EXPECT_TRUE(fs.Delete(root + "/hard"));
    EXPECT_EQ(ReadFile(dir / "victim"), "someone else's");
    EXPECT_EQ(StatOf(dir / "victim").st_mode & 0777, 0444u);
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "outside-link").c_str()), 0);
    EXPECT_NE(PosixFileSystem().OpenForReading(dir / "outside-link"), nullptr);
}

TEST(PosixFileSystemTest, BelowTheRootNoDirectoryLinkIsFollowed) {
    TempDir dir;
    const std::string root = dir / "root";
    const std::string elsewhere = dir / "elsewhere";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    WriteFile(elsewhere + "/f", "elsewhere");
    WriteFile(root + "/f", "root");
    ASSERT_EQ(symlink(elsewhere.c_str(), (root + "/dat").c_str()), 0);
    const testing::Tree before = testing::Capture(dir.path());

    PosixFileSystem fs(root);
    EXPECT_EQ(fs.OpenForReading(root + "/dat/f"), nullptr);
    EXPECT_FALSE(fs.Exists(root + "/dat/f"));
    EXPECT_EQ(fs.CreateNew(root + "/dat/new"), nullptr);
    EXPECT_EQ(fs.CreateForWriting(root + "/dat/f"), nullptr);
    EXPECT_FALSE(fs.Move(root + "/f", root + "/dat/g"));
    EXPECT_FALSE(fs.Delete(root + "/dat/f"));
    EXPECT_FALSE(fs.SyncDirectory(root + "/dat"));
    EXPECT_EQ(fs.OpenForReading(root + "/../elsewhere/f"), nullptr);  // no way up
    EXPECT_EQ(testing::TreeDifferences(before, testing::Capture(dir.path())), "");

    // The root itself may be reached through a link.
    ASSERT_EQ(symlink(root.c_str(), (dir / "via").c_str()), 0);
    PosixFileSystem via(dir / "via");
    EXPECT_NE(via.OpenForReading(dir / "via/f"), nullptr);
    EXPECT_TRUE(via.SyncDirectory(dir / "via"));
}

TEST(PosixFileSystemTest, SpecialFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_TRUE(testing::MakeSpecial(testing::Special::kFifo, fifo));
    alarm(20);  // a blocking open would end the test here
    PosixFileSystem plain;
    PosixFileSystem confined(dir.path());
    for (PosixFileSystem* fs : {&plain, &confined}) {
        bool inUse = true;
        EXPECT_EQ(fs->OpenForReading(fifo), nullptr);
        EXPECT_EQ(fs->OpenUnshared(fifo, &inUse), nullptr);
        EXPECT_FALSE(inUse);
        EXPECT_EQ(fs->CreateForWriting(fifo), nullptr);
        EXPECT_FALSE(fs->SyncFile(fifo));
        EXPECT_FALSE(fs->MakeWritable(fifo));
        EXPECT_FALSE(fs->SetTimes(fifo, 0));
        EXPECT_TRUE(fs->Exists(fifo));
    }
    // Devices are never opened: no writing into /dev/null.
    PosixFileSystem fs;
    EXPECT_EQ(fs.CreateForWriting("/dev/null"), nullptr);
    EXPECT_EQ(fs.OpenForReading("/dev/zero"), nullptr);
    alarm(0);
}

TEST(PosixFileSystemTest, ANewFileIsBornLocked) {
    TempDir dir;
    PosixFileSystem fs(dir.path());
    testing::ExpectBornLocked(fs, dir.path());
}

TEST(PosixFileSystemTest, AReplacementTakesTheOriginalsOwnerAndModeButNoSetId) {
    TempDir dir;
    PosixFileSystem fs(dir.path());
    WriteFile(dir / "original", "old");
    WriteFile(dir / "new", "new");
    ASSERT_EQ(chmod((dir / "original").c_str(), 04755), 0);
    if (chown((dir / "original").c_str(), 65534, 65534) != 0) GTEST_SKIP() << "not root";
    EXPECT_TRUE(fs.KeepAttributes(dir / "original", dir / "new"));
    EXPECT_EQ(StatOf(dir / "new").st_mode & 07777, 0755u);
    EXPECT_EQ(StatOf(dir / "new").st_uid, 65534u);
    EXPECT_EQ(StatOf(dir / "new").st_gid, 65534u);
    // Read-only stays no more than a Windows replacement does.
    ASSERT_EQ(chmod((dir / "original").c_str(), 0440), 0);
    EXPECT_TRUE(fs.KeepAttributes(dir / "original", dir / "new"));
    EXPECT_EQ(StatOf(dir / "new").st_mode & 07777, 0640u);
}

// A flush that the file cannot have is not a failure; every other failure
// to get the data out still is.
TEST(FlushTest, OnlyAFlushThatIsNotOfferedCountsAsDone) {
    EXPECT_TRUE(FsyncNotOffered(EINVAL));
    EXPECT_TRUE(FsyncNotOffered(ENOTSUP));
    for (int error : {0, EIO, ENOSPC, EDQUOT, EROFS, EBADF, EINTR}) {
        EXPECT_FALSE(FsyncNotOffered(error)) << error;
    }
    // ERROR_INVALID_FUNCTION and ERROR_NOT_SUPPORTED; not ERROR_ACCESS_DENIED,
    // ERROR_INVALID_HANDLE, ERROR_NOT_READY, ERROR_UNEXP_NET_ERR,
    // ERROR_DISK_FULL, ERROR_NETNAME_DELETED.
    EXPECT_TRUE(FlushFileBuffersNotOffered(1));
    EXPECT_TRUE(FlushFileBuffersNotOffered(50));
    for (unsigned long error : {0ul, 5ul, 6ul, 21ul, 59ul, 112ul, 64ul}) {
        EXPECT_FALSE(FlushFileBuffersNotOffered(error)) << error;
    }
}

// Another program's hold on a file, as Windows NT and Windows 9x report it:
// a sharing or lock violation always; access denied only when the file opens
// for reading beside others (or that open meets the holder itself), since
// access denied also answers a file this user may not read, or a directory.
TEST(HeldFileTest, AccessDeniedCountsAsHeldOnlyWhenASharedOpenSaysSo) {
    const std::optional<unsigned long> sharedOpened;
    for (unsigned long error : {32ul, 33ul}) {
        EXPECT_TRUE(HeldByAnotherProgram(error, sharedOpened)) << error;
        EXPECT_TRUE(HeldByAnotherProgram(error, 5ul)) << error;
        EXPECT_FALSE(NeedsSharedOpenToTell(error)) << error;
    }
    EXPECT_TRUE(NeedsSharedOpenToTell(5));
    EXPECT_TRUE(HeldByAnotherProgram(5, sharedOpened));
    EXPECT_TRUE(HeldByAnotherProgram(5, 32ul));
    EXPECT_TRUE(HeldByAnotherProgram(5, 33ul));
    // Denied again: not ours to read, or a directory. Gone meanwhile, or a
    // bad path: nobody holds it.
    for (unsigned long shared : {5ul, 2ul, 3ul}) {
        EXPECT_FALSE(HeldByAnotherProgram(5, shared)) << shared;
    }
    // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME,
    // ERROR_NOT_READY, ERROR_BAD_NETPATH, ERROR_INVALID_PARAMETER.
    for (unsigned long error : {0ul, 2ul, 3ul, 123ul, 21ul, 53ul, 87ul}) {
        EXPECT_FALSE(HeldByAnotherProgram(error, sharedOpened)) << error;
        EXPECT_FALSE(NeedsSharedOpenToTell(error)) << error;
    }
}

TEST(PosixFileSystemTest, AFileWithoutFlushIsAsDurableAsItGets) {
    // fsync of a file in /proc fails with EINVAL: it has nothing to flush.
    const char* kProcFile = "/proc/self/status";
    const int fd = open(kProcFile, O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const bool fsyncFails = fsync(fd) != 0 && errno == EINVAL;
    close(fd);
    if (!fsyncFails) GTEST_SKIP() << "fsync of " << kProcFile << " does not fail with EINVAL here";

    PosixFileSystem fs;
    EXPECT_TRUE(fs.SyncFile(kProcFile));
    TempDir dir;
    EXPECT_FALSE(fs.SyncFile(dir / "missing"));
}

TEST(DirectoryPayloadStoreTest, ReadsIdFilesAndKeepsThem) {
    TempDir dir;
    PosixFileSystem fs;
    WriteFile(dir / "137.sabunn", "payload 137");
    WriteFile(dir / "0138.sabunn", "not an id file");
    WriteFile(dir / "139.sabunn", "");
    DirectoryPayloadStore store(fs, dir.path());
    EXPECT_EQ(store.PathOf(137 + 0x10000), dir / "137.sabunn");

    auto p = store.Find(137);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(std::string(p->begin(), p->end()), "payload 137");
    // Kept once read, even when the file goes away.
    ASSERT_EQ(unlink((dir / "137.sabunn").c_str()), 0);
    auto again = store.Find(137 + 0x10000);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->data(), p->data());

    EXPECT_FALSE(store.Find(138).has_value());
    auto empty = store.Find(139);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

// A file read whole is all of it or nothing: a length that cannot be told or
// is over the limit, or a read that comes out short, gives nothing, and so
// does the payload a store would have read that way.
TEST(ReadAllTest, TakesTheWholeFileOrNothing) {
    testing::MemoryFileSystem fs;
    fs.Put("f", "abcdef");
    fs.Put("empty", "");
    auto read = [&fs](const std::string& path, std::int64_t limit) {
        return ReadAll(*fs.OpenForReading(path), limit);
    };
    EXPECT_EQ(read("f", 6), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(read("empty", 0), std::vector<std::uint8_t>{});
    EXPECT_EQ(read("f", 5), std::nullopt);
    fs.readLimit = 5;
    EXPECT_EQ(read("f", 6), std::nullopt);
    fs.Put("130.sabunn", "payload");
    DirectoryPayloadStore store(fs, "");
    EXPECT_FALSE(store.Find(130).has_value());
    fs.readLimit.reset();
    fs.lengthOverride = -1;
    EXPECT_EQ(read("f", 6), std::nullopt);
}

// Output files gather small writes in a buffer of their own: whatever the
// mix of sizes, the file holds the writes in order, after Close, after Sync
// and when the file is destroyed unclosed.
TEST(PosixFileSystemTest, BufferedWritesKeepTheirOrder) {
    TempDir dir;
    PosixFileSystem fs(16);
    const std::string pieces[] = {
        "ab", std::string(20, 'L'), "cd", std::string(14, 'm'), std::string(16, 'n'), "e"};
    std::string expected;
    for (const std::string& piece : pieces) expected += piece;

    auto closed = fs.CreateForWriting(dir / "closed");
    ASSERT_NE(closed, nullptr);
    for (const std::string& piece : pieces) {
        ASSERT_EQ(closed->Write(piece.data(), 1, piece.size()), piece.size());
    }
    EXPECT_TRUE(closed->Close());
    EXPECT_EQ(ReadFile(dir / "closed"), expected);

    auto synced = fs.CreateForWriting(dir / "synced");
    ASSERT_NE(synced, nullptr);
    ASSERT_EQ(synced->Write("xy", 2, 1), 1u);
    EXPECT_TRUE(synced->Sync());
    EXPECT_EQ(ReadFile(dir / "synced"), "xy");

    {
        auto dropped = fs.CreateForWriting(dir / "dropped");
        ASSERT_NE(dropped, nullptr);
        for (const std::string& piece : pieces) dropped->Write(piece.data(), piece.size(), 1);
    }
    EXPECT_EQ(ReadFile(dir / "dropped"), expected);
}

TEST(PosixPatchTest, RebuildsARealFile) {
    TempDir dir;
    PosixFileSystem fs(64);  // a tiny buffer
    WriteFile(dir / "old", "ABCDEFGHIJ");
    MemoryPayloadStore store;
    store.Add(1, MakeScript(4, {2, -1, 1}, {4, 8}, "wxyz"));
    DiffPatcher patcher(fs, store);
    EXPECT_EQ(patcher.Patch(dir / "old", dir / "Clone.tmp", 1), 0);
    EXPECT_EQ(ReadFile(dir / "Clone.tmp"), std::string("EFGHIJ\0\0wxyzIJ\0\0", 16));
    EXPECT_EQ(patcher.Patch(dir / "missing", dir / "new", 1), IDS_EXE_IN_USE);
    EXPECT_FALSE(fs.Exists(dir / "new"));
    EXPECT_EQ(patcher.Patch(dir / "old", dir / "no-such-dir/new", 1), IDS_TEMP_CREATE_FAILED);
}

// A file system that counts the writes and how many came out short.
class CountingFileSystem : public PosixFileSystem {
  public:
    using PosixFileSystem::PosixFileSystem;
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        auto inner = PosixFileSystem::CreateForWriting(path);
        if (inner == nullptr) return nullptr;
        return std::make_unique<Counted>(std::move(inner), *this);
    }
    int writes = 0;
    int shortWrites = 0;

  private:
    class Counted : public OutputFile {
      public:
        Counted(std::unique_ptr<OutputFile> inner, CountingFileSystem& fs)
            : inner_(std::move(inner)), fs_(fs) {}
        std::size_t Write(const void* b, std::size_t size, std::size_t count) override {
            ++fs_.writes;
            const std::size_t n = inner_->Write(b, size, count);
            if (n != count) ++fs_.shortWrites;
            return n;
        }
        bool Close() override { return inner_->Close(); }

      private:
        std::unique_ptr<OutputFile> inner_;
        CountingFileSystem& fs_;
    };
};

// 64 copy runs of 2,048 units of 32 bytes, each from the start of a 64 KiB
// old file: a new file of 4 MiB written through a 64 KiB buffer.
constexpr int kRuns = 64;
constexpr off_t kNewSize = off_t{kRuns} * 2048 * 32;

std::vector<std::uint8_t> FourMegabyteScript() {
    return MakeScript(32, std::vector<std::int16_t>(kRuns, 2048),
                      std::vector<std::uint32_t>(kRuns, 0));
}

// Runs the patch in a child process. Its exit status is the patcher's result,
// plus 50 when some write came out short, or 100 + writes when not every run
// was attempted. `limitBytes` > 0 sets RLIMIT_FSIZE in the child.
int PatchInChild(const std::string& oldPath, const std::string& newPath, rlim_t limitBytes) {
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);  // so that write() fails with EFBIG instead
        if (limitBytes > 0) {
            struct rlimit limit = {limitBytes, limitBytes};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(98);
        }
        CountingFileSystem fs(64 * 1024);
        MemoryPayloadStore store;
        store.Add(1, FourMegabyteScript());
        DiffPatcher patcher(fs, store);
        const int result = patcher.Patch(oldPath, newPath, 1);
        if (fs.writes != kRuns) _exit(100 + fs.writes);
        _exit(result + (fs.shortWrites > 0 ? 50 : 0));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(DiskFullTest, FileSizeLimitMakesWritesShort) {
    TempDir dir;
    WriteFile(dir / "old", std::string(64 * 1024, 'o'));
    const rlim_t limit = 1 << 20;
    EXPECT_EQ(PatchInChild(dir / "old", dir / "Clone.tmp", limit), 50 + IDS_UPDATE_FAILED);
    EXPECT_GT(SizeOf(dir / "Clone.tmp"), 0);
    EXPECT_LE(SizeOf(dir / "Clone.tmp"), static_cast<off_t>(limit));

    // Without the limit the same patch succeeds, so the limit made the difference.
    EXPECT_EQ(PatchInChild(dir / "old", dir / "Clone.tmp", 0), 0);
    EXPECT_EQ(SizeOf(dir / "Clone.tmp"), kNewSize);
}

TEST(DiskFullTest, SmallTmpfsFillsUp) {
    TempDir dir;
    WriteFile(dir / "old", std::string(64 * 1024, 'o'));
    const std::string disk = dir / "disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    EXPECT_EQ(PatchInChild(dir / "old", disk + "/Clone.tmp", 0), 50 + IDS_UPDATE_FAILED);
    EXPECT_GT(SizeOf(disk + "/Clone.tmp"), 0);
    EXPECT_LE(SizeOf(disk + "/Clone.tmp"), 1 << 20);

    // A write that finds the volume full is remembered as such.
    PosixFileSystem fs;
    EXPECT_FALSE(fs.RanOutOfSpace());
    auto big = fs.CreateForWriting(disk + "/big");
    ASSERT_NE(big, nullptr);
    big->Write(std::string(2 << 20, 'b').data(), 1, 2 << 20);
    EXPECT_FALSE(big->Close());
    EXPECT_TRUE(fs.RanOutOfSpace());
    ASSERT_TRUE(fs.Delete(disk + "/big"));

    // Moving on tmpfs refuses to replace as well (once there is room again).
    ASSERT_TRUE(fs.Delete(disk + "/Clone.tmp"));
    WriteFile(disk + "/Clone.tmp", "new");
    WriteFile(disk + "/other", "x");
    EXPECT_FALSE(fs.Move(disk + "/Clone.tmp", disk + "/other"));
    EXPECT_TRUE(fs.Delete(disk + "/other"));
    EXPECT_TRUE(fs.Move(disk + "/Clone.tmp", disk + "/other"));
    EXPECT_EQ(ReadFile(disk + "/other"), "new");
}

}  // namespace
}  // namespace morivane
