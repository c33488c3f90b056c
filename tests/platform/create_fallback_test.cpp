// A new file is born locked on file systems without nameless files
// (O_TMPFILE), and on those without hard links too. This program stands in
// for such file systems: it defines openat, linkat and renameat2 itself, so
// that the file system code linked into it calls these, which refuse what the
// test says is missing and pass everything else to the kernel.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/posix_file_system.h"
#include "tests/support/born_locked.h"
#include "tests/support/temp_dir.h"

namespace {

// What the stand-in file system lacks, and how often a call asked for it.
struct Missing {
    bool tmpFile = false;
    bool hardLinks = false;
    bool renameNoReplace = false;
    int refused = 0;
};
Missing missing;

int Refuse(int error) {
    ++missing.refused;
    errno = error;
    return -1;
}

}  // namespace

extern "C" int openat(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (missing.tmpFile && (flags & O_TMPFILE) == O_TMPFILE) return Refuse(EOPNOTSUPP);
    return static_cast<int>(::syscall(SYS_openat, dir, path, flags, mode));
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    if (missing.hardLinks) return Refuse(EPERM);
    return static_cast<int>(::syscall(SYS_linkat, fromDir, from, toDir, to, flags));
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned int flags) {
    if (missing.renameNoReplace && flags != 0) return Refuse(EINVAL);
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, from, toDir, to, flags));
}

namespace morivane {
namespace {

using testing::TempDir;

// Checks CreateNew's promise on a file system lacking what `lacking` says.
void ExpectBornLockedWithout(const Missing& lacking) {
    missing = lacking;
    TempDir dir;
    PosixFileSystem fs(dir.path());
    testing::ExpectBornLocked(fs, dir.path());
    // The stand-in was asked for what it lacks: the fallback did run.
    EXPECT_GT(missing.refused, 0);
    missing = Missing{};
}

TEST(CreateNewFallback, WithoutNamelessFilesTheFileIsLinkedFromAPrivateName) {
    ExpectBornLockedWithout({.tmpFile = true});
}

TEST(CreateNewFallback, WithoutHardLinksEitherItIsRenamedWithoutReplacing) {
    ExpectBornLockedWithout({.tmpFile = true, .hardLinks = true});
}

TEST(CreateNewFallback, WithNoneOfTheseItIsMadeUnderItsNameAndLockedAtOnce) {
    ExpectBornLockedWithout({.tmpFile = true, .hardLinks = true, .renameNoReplace = true});
}

}  // namespace
}  // namespace morivane
