// `sabunn update` against failures of the real file system, each one made
// for real rather than simulated: a tmpfs that runs out of pages or inodes
// at a chosen file, a file-size limit, directories and mounts that are
// read-only, old files cut short, and files the user may not read. Every
// failure must leave the installation exactly as it was (contents, names,
// modes, times) with no Clone.tmp, Clone*.bak or Clone.rec behind.
#include <gtest/gtest.h>

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "patch/sabunn_script.h"
#include "tests/faults/fault_support.h"

namespace morivane::faulttest {
namespace {

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!DemoBuilt()) GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
        ASSERT_FALSE(tmp_.path().empty());
        for (int row = 0; row < kRows; ++row) {
            newSize_[row] = fs::file_size(kDemoDir / "new" / kFiveFiles[row]);
        }
    }

    static void CopyInstallation(const fs::path& at) {
        fs::copy(kDemoDir / "old", at, fs::copy_options::recursive);
    }

    RunResult Update(const fs::path& inst, const ChildOptions& options = {}) {
        // Without the payloads' sums: these faults come about during the run
        // or are of the kind the patcher itself must notice.
        const fs::path payloads = tmp_.path() / "unsummed";
        if (!fs::exists(payloads)) CopyPayloadsWithoutSums(payloads);
        return RunProgram(UpdateArguments(inst, payloads), tmp_.path(), options);
    }

    // Runs the update and expects exit status `status` with its message on
    // stderr, the progress up to where the run stopped, and the tree under
    // `inst` exactly as it was before the run.
    void ExpectRefused(const fs::path& inst, int status, int rebuilt, std::optional<int> failedRow,
                       const ChildOptions& options = {}) {
        const Snapshot before = Take(inst);
        const RunResult r = Update(inst, options);
        EXPECT_EQ(r.signal, 0) << r.out << r.err;
        EXPECT_EQ(r.status, status) << r.out << r.err;
        ExpectProgress(r.out, rebuilt, failedRow, status);
        EXPECT_NE(r.err.find("message " + std::to_string(status) + ": "), std::string::npos)
            << r.err;
        EXPECT_EQ(Differences(before, Take(inst)), "");
    }

    // A per-file size limit that lets every row before `row` write its new
    // file but stops `row` half-way between; none when an earlier row's new
    // file is at least as large as this row's.
    std::optional<rlim_t> FileSizeLimitFor(int row) const {
        std::uint64_t largest = 0;
        for (int j = 0; j < row; ++j) largest = std::max(largest, newSize_[j]);
        if (largest >= newSize_[row]) return std::nullopt;
        return (largest + newSize_[row]) / 2;
    }

    TempDir tmp_;
    std::uint64_t newSize_[kRows] = {};
};

ChildOptions WithFileSizeLimit(rlim_t bytes) {
    ChildOptions options;
    options.fileSizeLimit = bytes;
    return options;
}

// --- A full disk ----------------------------------------------------------

// Row k's temporary file meets a full disk half-way. Until then the disk
// holds, beside the installation, the new files of the rows before k (their
// originals are only moved aside, so they keep their room) and, from the
// second row on, Clone.rec: a few entries of at most a few hundred bytes,
// one page. The write fails short of the file, which is message 12; the
// create itself still succeeds, since a tmpfs out of pages still has inodes.
class FullDisk : public Faults, public ::testing::WithParamInterface<int> {};

TEST_P(FullDisk, StopsAtItsRowAndPutsEveryEarlierRowBack) {
    const int row = GetParam();
    Tmpfs disk(tmp_.path() / "disk");
    if (!disk.mounted()) {
        // Without a file system of its own the test can only limit the size
        // of each file the child writes.
        const std::string why = std::strerror(errno);
        const std::optional<rlim_t> limit = FileSizeLimitFor(row);
        if (!limit) {
            GTEST_SKIP() << "cannot mount a tmpfs here (" << why << "), and no per-file size "
                         << "limit stops row " << row + 1 << " alone: an earlier row's new file "
                         << "is at least as large";
        }
        const fs::path inst = tmp_.path() / "inst";
        CopyInstallation(inst);
        ExpectRefused(inst, 12, row, row, WithFileSizeLimit(*limit));
        return;
    }
    const fs::path inst = disk.path() / "inst";
    CopyInstallation(inst);
    std::uint64_t room = row > 0 ? kPage : 0;
    for (int j = 0; j < row; ++j) room += Pages(newSize_[j]);
    room += Pages(newSize_[row] / 2);
    ASSERT_TRUE(disk.Resize(disk.UsedBytes() + room)) << std::strerror(errno);
    ExpectRefused(inst, 12, row, row);
}

INSTANTIATE_TEST_SUITE_P(EachRow, FullDisk, ::testing::Range(0, kRows),
                         [](const auto& info) { return "Row" + std::to_string(info.param + 1); });

TEST_F(Faults, DiskWithExactlyTheRoomOfTheWholeRun) {
    Tmpfs disk(tmp_.path() / "disk");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const fs::path inst = disk.path() / "inst";
    CopyInstallation(inst);
    const std::uint64_t installation = disk.UsedBytes();
    // All five new files beside their originals, and the record's page.
    std::uint64_t room = kPage;
    for (int row = 0; row < kRows; ++row) room += Pages(newSize_[row]);

    // One page short: the last file cannot be written whole.
    ASSERT_TRUE(disk.Resize(installation + room - kPage));
    ExpectRefused(inst, 12, 4, 4);

    ASSERT_TRUE(disk.Resize(installation + room));
    const RunResult r = Update(inst);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ExpectNewTree(inst);
}

TEST_F(Faults, NoRoomForTheRecord) {
    Tmpfs disk(tmp_.path() / "disk");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const fs::path inst = disk.path() / "inst";
    CopyInstallation(inst);
    // Clone.rec, the run's first file, gets an inode but no page for its
    // first entry. Nothing has been patched yet, so the run stops as if the
    // temporary file could not be created.
    ASSERT_TRUE(disk.Resize(disk.UsedBytes()));
    ExpectRefused(inst, 11, 0, std::nullopt);
}

// A file-size limit is the only full-disk stand-in without a mount; it can
// separate a row from the ones before it only where that row's new file is
// larger than every earlier one. Run here whether or not mounting works, so
// that the fallback itself is known to work.
TEST_F(Faults, FileSizeLimitStopsEachRowItCanReach) {
    int reached = 0;
    for (int row = 0; row < kRows; ++row) {
        const std::optional<rlim_t> limit = FileSizeLimitFor(row);
        if (!limit) continue;
        SCOPED_TRACE("row " + std::to_string(row + 1) + ", limit " + std::to_string(*limit));
        const fs::path inst = tmp_.path() / ("inst" + std::to_string(row));
        CopyInstallation(inst);
        ExpectRefused(inst, 12, row, row, WithFileSizeLimit(*limit));
        ++reached;
    }
    EXPECT_GE(reached, 1);
}

// --- No inode left --------------------------------------------------------

// A tmpfs with pages to spare but a fixed number of inodes. The run needs one
// inode for each Clone.tmp (the previous one has become an installed file by
// then) and one for Clone.rec, the run's first file; moves need none. When
// the create fails, the message is 11.
struct InodeCase {
    const char* name;
    int freeInodes;
    int status;
    int rebuilt;
    std::optional<int> failedRow;
};

void PrintTo(const InodeCase& c, std::ostream* os) {
    *os << c.name;
}

class NoInodeLeft : public Faults, public ::testing::WithParamInterface<InodeCase> {};

TEST_P(NoInodeLeft, CreateFailsWith11AndNothingChanges) {
    const InodeCase& c = GetParam();
    Tmpfs disk(tmp_.path() / "disk");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const fs::path inst = disk.path() / "inst";
    CopyInstallation(inst);
    const std::uint64_t limit = disk.UsedInodes() + static_cast<std::uint64_t>(c.freeInodes);
    ASSERT_TRUE(disk.Remount("nr_inodes=" + std::to_string(limit))) << std::strerror(errno);
    if (c.status == 0) {
        const RunResult r = Update(inst);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        ExpectNewTree(inst);
        return;
    }
    ExpectRefused(inst, c.status, c.rebuilt, c.failedRow);
}

const InodeCase kInodeCases[] = {
    {"NoneForTheRecord", 0, 11, 0, std::nullopt},   {"NoneForTheFirstTemporaryFile", 1, 11, 0, 0},
    {"NoneForTheSecondTemporaryFile", 2, 11, 1, 1}, {"NoneForTheThirdTemporaryFile", 3, 11, 2, 2},
    {"NoneForTheFourthTemporaryFile", 4, 11, 3, 3}, {"NoneForTheFifthTemporaryFile", 5, 11, 4, 4},
    {"ExactlyEnough", 6, 0, 5, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Each, NoInodeLeft, ::testing::ValuesIn(kInodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Read-only directories and mounts ---------------------------------------

// Root writes into any directory whatever its mode, so a read-only directory
// is met by an unprivileged user: as root the test hands the installation to
// `nobody` and runs sabunn as that user.
class AsUnprivilegedUser : public Faults {
  protected:
    void SetUp() override {
        Faults::SetUp();
        if (IsSkipped()) return;
        inst_ = tmp_.path() / "inst";
        CopyInstallation(inst_);
        if (::geteuid() != 0) return;
        ::chmod(tmp_.path().c_str(), 0755);
        for (const auto& e : fs::recursive_directory_iterator(inst_)) {
            ASSERT_EQ(::lchown(e.path().c_str(), kNobody, kNobody), 0) << e.path();
        }
        ASSERT_EQ(::lchown(inst_.c_str(), kNobody, kNobody), 0);
        options_.uid = kNobody;
        options_.gid = kNobody;
    }
    // Gives the owner back the right to write `path`, so that the temporary
    // directory can be removed.
    static void Writable(const fs::path& path) { ::chmod(path.c_str(), 0755); }

    fs::path inst_;
    ChildOptions options_;
};

TEST_F(AsUnprivilegedUser, ReadOnlyInstallationDirectoryTakesNoRecord) {
    ASSERT_EQ(::chmod(inst_.c_str(), 0555), 0);
    ExpectRefused(inst_, 11, 0, std::nullopt, options_);
    Writable(inst_);
}

TEST_F(AsUnprivilegedUser, ReadOnlyDataDirectoryPutsTheExecutableBack) {
    // The executable is replaced; the first data file is patched but cannot
    // be moved aside.
    ASSERT_EQ(::chmod((inst_ / "dat").c_str(), 0555), 0);
    ExpectRefused(inst_, 12, 2, std::nullopt, options_);
    Writable(inst_ / "dat");
}

// On Windows a file that another program holds open without sharing cannot
// be opened for reading, and the patch stops with message 10. Linux has no
// share modes: a file held open by another process can still be read and
// renamed, and its locks (flock, fcntl) are advisory, binding only programs
// that ask for them (mandatory locking is gone from the kernel). The one real
// way here for the open of an installed file to fail is a file the user may
// not read, which gives the same message 10. Windows' own behaviour is
// exercised under Wine.
TEST_F(AsUnprivilegedUser, UnreadableFourthFileStopsWith10AndPutsThreeBack) {
    ASSERT_EQ(::chmod((inst_ / "dat/Iobjecte.til").c_str(), 0), 0);
    ExpectRefused(inst_, 10, 3, 3, options_);
}

// What holding a file means natively: another process has it open and locked
// while the run replaces it. The run must not write into it in place: the
// holder keeps reading the original bytes through its descriptor.
TEST_F(Faults, FileHeldOpenAndLockedIsReplacedUnderTheHolder) {
    const fs::path inst = tmp_.path() / "inst";
    CopyInstallation(inst);
    const std::string original = Slurp(inst / "dat/Iobjecte.til");
    const int held = ::open((inst / "dat/Iobjecte.til").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(held, F_SETLK, &lock), 0);

    const RunResult r = Update(inst);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectNewTree(inst);

    std::string seen(original.size() + 1, '\0');
    const ssize_t n = ::pread(held, seen.data(), seen.size(), 0);
    ASSERT_EQ(n, static_cast<ssize_t>(original.size()));
    seen.resize(static_cast<std::size_t>(n));
    EXPECT_TRUE(seen == original) << "the held file was changed in place";
    struct stat st;
    ASSERT_EQ(::fstat(held, &st), 0);
    EXPECT_EQ(st.st_nlink, 0u) << "the original should be gone from the installation";
    ::close(held);
}

// A bind mount of its own, unmounted at the end.
class BindMount {
  public:
    BindMount(const fs::path& from, const fs::path& at) : at_(at) {
        mounted_ = ::mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~BindMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool mounted() const { return mounted_; }
    bool MakeReadOnly() {
        return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
               0;
    }

  private:
    fs::path at_;
    bool mounted_ = false;
};

TEST_F(Faults, ReadOnlyMountOfTheDataDirectoryPutsTheExecutableBack) {
    const fs::path inst = tmp_.path() / "inst";
    CopyInstallation(inst);
    BindMount dat(inst / "dat", inst / "dat");
    if (!dat.mounted() || !dat.MakeReadOnly()) {
        GTEST_SKIP() << "cannot make a read-only bind mount here: " << std::strerror(errno);
    }
    // Moving a data file aside into the installation directory now has to
    // leave a read-only mount: the rename fails (EXDEV or EROFS).
    ExpectRefused(inst, 12, 2, std::nullopt);
}

TEST_F(Faults, ReadOnlyFileSystemTakesNoRecord) {
    Tmpfs disk(tmp_.path() / "disk");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const fs::path inst = disk.path() / "inst";
    CopyInstallation(inst);
    ASSERT_TRUE(disk.Remount("ro")) << std::strerror(errno);
    ExpectRefused(inst, 11, 0, std::nullopt);
}

// --- Old files cut short ----------------------------------------------------

struct CutCase {
    const char* name;
    int row;
    // The length the old file is cut to, given its length and the largest
    // end of any copy run in its script.
    std::uint64_t (*length)(std::uint64_t size, std::uint64_t needed);
    int status;
    int rebuilt;
    std::optional<int> failedRow;
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class OldFileCut : public Faults, public ::testing::WithParamInterface<CutCase> {};

TEST_P(OldFileCut, FailsWith12UnlessItStillHoldsEveryCopiedUnit) {
    const CutCase& c = GetParam();
    const std::vector<std::uint8_t> script = ScriptOf(
        Bytes(Slurp(kDemoDir / "payloads" / (std::to_string(kPayloadIds[c.row]) + ".sabunn"))));
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(script, &view), ScriptError::Ok);
    const std::uint64_t needed = view.Summary().oldBytesNeeded;

    const fs::path inst = tmp_.path() / "inst";
    CopyInstallation(inst);
    const fs::path file = inst / kFiveFiles[c.row];
    const std::uint64_t size = fs::file_size(file);
    ASSERT_GT(needed, 2u * 32u) << "the script copies too little for this case";
    ASSERT_LE(needed, size);
    fs::resize_file(file, c.length(size, needed));
    if (c.status == 0) {
        // Nothing past the last copied unit is read, so the result is the
        // same new file.
        const RunResult r = Update(inst);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        ExpectNewTree(inst);
        return;
    }
    ExpectRefused(inst, c.status, c.rebuilt, c.failedRow);
}

const CutCase kCutCases[] = {
    {"SecondFileToHalf", 1, [](std::uint64_t size, std::uint64_t) { return size / 2; }, 12, 1, 1},
    {"ThirdFileOneUnitShortOfItsCopies", 2,
     [](std::uint64_t, std::uint64_t needed) { return needed - 32; }, 12, 2, 2},
    {"ThirdFileToExactlyItsCopies", 2, [](std::uint64_t, std::uint64_t needed) { return needed; },
     0, 5, std::nullopt},
    {"FifthFileEmpty", 4, [](std::uint64_t, std::uint64_t) { return std::uint64_t{0}; }, 12, 4, 4},
};

INSTANTIATE_TEST_SUITE_P(Each, OldFileCut, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morivane::faulttest
