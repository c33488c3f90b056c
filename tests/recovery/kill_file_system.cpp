// sabunn_killable: sabunn whose `sabunn update` works on the machine's own
// file system wrapped so that, with MORIVANE_TEST_KILL_AT_OPERATION=N (a
// positive decimal number) in the environment, the process sends itself a
// signal just before its N-th file operation that changes something (see
// tests/support/hooked_file_system.h): SIGKILL, or the one named by
// MORIVANE_TEST_KILL_SIGNAL ("STOP", "TERM" or "INT"). Stopped with SIGSTOP,
// it waits there for SIGCONT, so a test can start another updater at that
// very instant. Only this program reads the variables.
#include <signal.h>
#include <stdlib.h>

#include <cstring>

#include "tests/support/hooked_file_system.h"
#include "tools/sabunn/sabunn.h"

namespace morivane::sabunn {
namespace {

std::unique_ptr<FileSystem> MakeKillableFileSystem(const std::string& root) {
    long killAt = 0;
    if (const char* text = getenv("MORIVANE_TEST_KILL_AT_OPERATION")) {
        char* end = nullptr;
        const long n = strtol(text, &end, 10);
        if (*text != '\0' && *end == '\0' && n > 0) killAt = n;
    }
    int signal = SIGKILL;
    if (const char* name = getenv("MORIVANE_TEST_KILL_SIGNAL")) {
        if (std::strcmp(name, "STOP") == 0) signal = SIGSTOP;
        if (std::strcmp(name, "TERM") == 0) signal = SIGTERM;
        if (std::strcmp(name, "INT") == 0) signal = SIGINT;
    }
    auto count = std::make_shared<long>(0);
    return std::make_unique<testing::HookedFileSystem>(
        MakeUpdateFileSystem(root), [killAt, signal, count] {
            if (++*count == killAt) raise(signal);
        });
}

}  // namespace
}  // namespace morivane::sabunn

int main(int argc, char** argv) {
    return morivane::sabunn::RunSabunn(argc, argv, morivane::sabunn::MakeKillableFileSystem);
}
