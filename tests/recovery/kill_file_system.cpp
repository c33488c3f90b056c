// The file system of the interruption tests' build of sabunn: the machine's
// own, except that with MORIVANE_TEST_KILL_AT_OPERATION=N (a positive decimal
// number) in the environment the process kills itself with SIGKILL just
// before its N-th file operation that changes something (see
// tests/support/hooked_file_system.h). Only this build reads the variable.
#include <signal.h>
#include <stdlib.h>

#include "platform/posix/posix_file_system.h"
#include "tests/support/hooked_file_system.h"
#include "tools/sabunn/update_file_system.h"

namespace morivane::sabunn {

std::unique_ptr<FileSystem> MakeUpdateFileSystem() {
    long killAt = 0;
    if (const char* text = getenv("MORIVANE_TEST_KILL_AT_OPERATION")) {
        char* end = nullptr;
        const long n = strtol(text, &end, 10);
        if (*text != '\0' && *end == '\0' && n > 0) killAt = n;
    }
    auto count = std::make_shared<long>(0);
    return std::make_unique<testing::HookedFileSystem>(std::make_unique<PosixFileSystem>(),
                                                       [killAt, count] {
                                                           if (++*count == killAt) raise(SIGKILL);
                                                       });
}

}  // namespace morivane::sabunn
