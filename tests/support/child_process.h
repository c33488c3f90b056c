// Running a program of the build as the user would, for the tests of the
// command-line tools: its exit status or the signal that ended it, and what
// it wrote to stdout and stderr. The one child-process runner of the tests.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morivane::testing {

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    int signal = 0;   // the signal that ended it, when one did
    std::string out;
    std::string err;
};

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a child that ended with wait status `raw` left in `out` and `err`,
// which are removed.
inline RunResult Collect(int raw, const std::filesystem::path& out,
                         const std::filesystem::path& err) {
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    r.out = ReadText(out);
    r.err = ReadText(err);
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
    std::filesystem::remove(err, ignored);
    return r;
}

// Runs `command` through the shell, stdin from /dev/null, stdout and stderr
// captured in files under `scratch` (which are removed again).
inline RunResult RunCommand(const std::string& command, const std::filesystem::path& scratch) {
    const std::filesystem::path out = scratch / ".stdout";
    const std::filesystem::path err = scratch / ".stderr";
    const std::string line =
        command + " </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
    return Collect(std::system(line.c_str()), out, err);
}

// What a child started by RunProgram is given besides its arguments.
struct ChildOptions {
    // RLIMIT_FSIZE in bytes. SIGXFSZ is ignored in the child, so a write past
    // the limit fails with EFBIG instead of ending the process.
    std::optional<rlim_t> fileSizeLimit;
    // Runs as this user and group, with no supplementary groups (needs root).
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    // Set in the child's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // SIGALRM after this many seconds (kept across exec): a child that hangs
    // ends with that signal instead of holding the test up for good.
    unsigned alarmSeconds = 0;
};

// The unprivileged account that root tests switch to.
inline constexpr uid_t kNobody = 65534;

// A child started by StartProgram: wait for it with FinishProgram.
struct Child {
    pid_t pid = -1;
    std::filesystem::path out;
    std::filesystem::path err;
};

// Starts `argv` directly (no shell), stdin from /dev/null, stdout and stderr
// captured in files under `scratch` named after `tag`, so that several
// children can run at once. The output files are opened before the child
// changes user, so `scratch` need not be writable by that user.
inline Child StartProgram(const std::vector<std::string>& argv,
                          const std::filesystem::path& scratch, const ChildOptions& options = {},
                          const std::string& tag = "") {
    const std::filesystem::path out = scratch / (".stdout" + tag);
    const std::filesystem::path err = scratch / (".stderr" + tag);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (in < 0 || o < 0 || e < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        for (const auto& [name, value] : options.environment) {
            if (::setenv(name.c_str(), value.c_str(), 1) != 0) ::_exit(126);
        }
        if (options.fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);  // kept across exec
            const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
        }
        if (options.gid && (::setgroups(0, nullptr) != 0 ||
                            ::setresgid(*options.gid, *options.gid, *options.gid) != 0)) {
            ::_exit(126);
        }
        if (options.uid && ::setresuid(*options.uid, *options.uid, *options.uid) != 0) ::_exit(126);
        if (options.alarmSeconds > 0) ::alarm(options.alarmSeconds);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return Child{pid, out, err};
}

// Waits for `child` to end and collects what it left.
inline RunResult FinishProgram(const Child& child) {
    int raw = 0;
    if (child.pid < 0 || ::waitpid(child.pid, &raw, 0) != child.pid) return RunResult{};
    return Collect(raw, child.out, child.err);
}

// True once `child` has stopped (SIGSTOP); false when it ended instead, and
// then *ended holds what it left.
inline bool WaitUntilStopped(const Child& child, RunResult* ended) {
    int raw = 0;
    if (::waitpid(child.pid, &raw, WUNTRACED) != child.pid) return false;
    if (WIFSTOPPED(raw)) return true;
    *ended = Collect(raw, child.out, child.err);
    return false;
}

// Runs `argv` directly (no shell) as StartProgram does and waits for it.
inline RunResult RunProgram(const std::vector<std::string>& argv,
                            const std::filesystem::path& scratch,
                            const ChildOptions& options = {}) {
    return FinishProgram(StartProgram(argv, scratch, options));
}

}  // namespace morivane::testing
