// `sabunn update` killed with SIGKILL at every file operation of a run in
// turn, on copies of the demo installation; the next run must put the
// installation in order and finish the update, leaving exactly the new tree.
// The runs are those of sabunn_killable, a build of sabunn whose file system
// kills the process just before its N-th changing file operation, N from
// MORIVANE_TEST_KILL_AT_OPERATION (kill_file_system.cpp).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kDemoDir = MORIVANE_DEMO_DIR;
constexpr const char* kSabunn = SABUNN_PATH;
constexpr std::int64_t kUpdateTimestamp = 908463600;  // 1998-10-15 15:00:00 UTC
const std::vector<std::string> kFiveFiles = {"Morivane.exe", "dat/Iobjectc.til", "dat/Iobjecto.til",
                                             "dat/Iobjecte.til", "dat/Iobjecth.til"};
// Far more operations than a run has; the sweep stops at the first run that
// is not killed.
constexpr int kMaxOperations = 400;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry under `root`: relative path -> content ("<dir>" for a
// directory).
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(entry.path(), root).string();
        tree[rel] = entry.is_directory() ? std::string("<dir>") : Slurp(entry.path());
    }
    return tree;
}

struct Outcome {
    bool killed = false;  // ended by SIGKILL
    int exitCode = -1;    // when it exited
    std::string output;   // stdout and stderr
};

// Runs `sabunn update --yes` on `install`, with the kill hook at operation
// `killAt` (0: none).
Outcome RunUpdate(const fs::path& install, int killAt) {
    const fs::path log = install.parent_path() / "run.log";
    const pid_t pid = fork();
    if (pid == 0) {
        if (killAt > 0) {
            setenv("MORIVANE_TEST_KILL_AT_OPERATION", std::to_string(killAt).c_str(), 1);
        } else {
            unsetenv("MORIVANE_TEST_KILL_AT_OPERATION");
        }
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        const std::string payloads = (kDemoDir / "payloads").string();
        execl(kSabunn, kSabunn, "update", "--install-dir", install.c_str(), "--payloads",
              payloads.c_str(), "--yes", static_cast<char*>(nullptr));
        _exit(127);
    }
    Outcome outcome;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return outcome;
    outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    outcome.output = Slurp(log);
    return outcome;
}

class KillTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const std::string& f : kFiveFiles) {
            if (!fs::exists(kDemoDir / "old" / f) || !fs::exists(kDemoDir / "new" / f)) {
                GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
            }
        }
        char pattern[] = "/tmp/morivane-kill-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work_ = pattern;
        install_ = work_ / "inst";
        newTree_ = Tree(kDemoDir / "new");
    }
    void TearDown() override {
        if (!work_.empty()) fs::remove_all(work_);
    }

    void FreshInstallation() {
        fs::remove_all(install_);
        fs::copy(kDemoDir / "old", install_, fs::copy_options::recursive);
    }

    // Exactly the new tree, nothing more (no Clone.tmp, Clone*.bak or
    // Clone.rec), and the five files carry the update's time stamp.
    void ExpectNewTree(const std::string& context) {
        SCOPED_TRACE(context);
        const auto tree = Tree(install_);
        EXPECT_EQ(tree.size(), newTree_.size());
        for (const auto& [rel, content] : tree) {
            auto it = newTree_.find(rel);
            if (it == newTree_.end()) {
                ADD_FAILURE() << "left over: " << rel;
            } else if (it->second != content) {
                ADD_FAILURE() << "differs from the new version: " << rel;
            }
        }
        for (const std::string& f : kFiveFiles) {
            struct stat st;
            ASSERT_EQ(stat((install_ / f).c_str(), &st), 0) << f;
            EXPECT_EQ(st.st_mtime, kUpdateTimestamp) << f;
        }
    }

    int CountAsides() const {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(install_)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("Clone") && name.ends_with(".bak")) ++n;
        }
        return n;
    }

    fs::path work_;
    fs::path install_;
    std::map<std::string, std::string> newTree_;
};

// What one kill of the sweep left, and how the next run ended.
struct KillPoint {
    int operation;
    int asidesLeft;
    int nextExit;
};

TEST_F(KillTest, AKillAtEveryFileOperationIsRecoveredByTheNextRun) {
    const auto started = std::chrono::steady_clock::now();
    std::vector<KillPoint> points;
    int operations = -1;
    for (int n = 1; n <= kMaxOperations; ++n) {
        SCOPED_TRACE("killed at operation " + std::to_string(n));
        FreshInstallation();
        const Outcome first = RunUpdate(install_, n);
        if (!first.killed) {
            // Past the run's last operation: a whole, unkilled run.
            EXPECT_EQ(first.exitCode, 0) << first.output;
            ExpectNewTree("the run that was not killed");
            operations = n - 1;
            break;
        }
        const int asides = CountAsides();
        const Outcome second = RunUpdate(install_, 0);
        ASSERT_FALSE(second.killed);
        // 0: undone and updated anew; 8: completed, so found already updated.
        EXPECT_TRUE(second.exitCode == 0 || second.exitCode == 8) << second.output;
        ExpectNewTree("after the next run");
        points.push_back({n, asides, second.exitCode});
        if (HasFatalFailure() || HasFailure()) return;
    }
    ASSERT_GT(operations, 30) << "fewer operations than five replacements need";

    // Kills before the commit are undone; from the commit on the run is
    // completed. The two never interleave.
    std::size_t firstCompleted = points.size();
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i].nextExit == 8 && firstCompleted == points.size()) firstCompleted = i;
        if (firstCompleted != points.size()) {
            EXPECT_EQ(points[i].nextExit, 8) << "operation " << points[i].operation;
        }
    }
    ASSERT_LT(firstCompleted, points.size()) << "no kill fell after the commit";
    EXPECT_LT(firstCompleted, points.size() - 1);
    // The sweep did reach the instants with all five originals aside.
    int mostAside = 0;
    for (const KillPoint& p : points) mostAside = std::max(mostAside, p.asidesLeft);
    EXPECT_EQ(mostAside, 5);

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordProperty("operations", operations);
    std::printf("a run has %d file operations; %zu kills, each followed by a run, in %.1f s\n",
                operations, points.size(), seconds);
}

TEST_F(KillTest, AKillDuringTheNextRunsRecoveryIsRecoveredByTheOneAfter) {
    // The first run is killed where the recovery has the most to do: all
    // five originals aside, once before the commit (to be undone) and once
    // after it (to be completed). The second run is then killed at every one
    // of its own operations in turn.
    std::vector<int> chosen;
    int beforeCommit = 0;
    for (int n = 1; n <= kMaxOperations; ++n) {
        FreshInstallation();
        const Outcome first = RunUpdate(install_, n);
        ASSERT_TRUE(first.killed) << "no commit found before the run's end";
        if (CountAsides() < 5) continue;
        const Outcome second = RunUpdate(install_, 0);
        if (second.exitCode == 0) {
            beforeCommit = n;
        } else {
            ASSERT_EQ(second.exitCode, 8) << second.output;
            ASSERT_GT(beforeCommit, 0);
            chosen = {beforeCommit, n};
            break;
        }
    }
    ASSERT_EQ(chosen.size(), 2u);

    for (std::size_t c = 0; c < chosen.size(); ++c) {
        const int expectedExit = c == 0 ? 0 : 8;
        int m = 1;
        for (; m <= kMaxOperations; ++m) {
            SCOPED_TRACE("first run killed at " + std::to_string(chosen[c]) + ", second at " +
                         std::to_string(m));
            FreshInstallation();
            ASSERT_TRUE(RunUpdate(install_, chosen[c]).killed);
            const Outcome second = RunUpdate(install_, m);
            if (!second.killed) {
                EXPECT_EQ(second.exitCode, expectedExit) << second.output;
                ExpectNewTree("after the second run, not killed");
                break;
            }
            const Outcome third = RunUpdate(install_, 0);
            ASSERT_FALSE(third.killed);
            EXPECT_TRUE(third.exitCode == 0 || third.exitCode == 8) << third.output;
            // Undone work may be undone and redone; completed work stays so.
            if (expectedExit == 8) {
                EXPECT_EQ(third.exitCode, 8) << third.output;
            }
            ExpectNewTree("after the third run");
            if (HasFailure()) return;
        }
        EXPECT_GT(m, 1) << "the recovery did no file operation";
    }
}

}  // namespace
