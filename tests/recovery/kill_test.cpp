// `sabunn update` killed with SIGKILL at every file operation of a run in
// turn, on copies of the demo installation; the next run must put the
// installation in order and finish the update, leaving exactly the new tree.
// The runs are those of sabunn_killable, a build of sabunn whose file system
// kills the process just before its N-th changing file operation, N from
// MORIVANE_TEST_KILL_AT_OPERATION (kill_file_system.cpp).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/update_test_support.h"

namespace morivane::updatetest {
namespace {

// Far more operations than a run has; the sweep stops at the first run that
// is not killed.
constexpr int kMaxOperations = 400;

struct Outcome {
    bool killed = false;  // ended by SIGKILL
    int exitCode = -1;    // when it exited
    std::string output;   // stdout and stderr
};

class KillTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!DemoBuilt()) GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
        ASSERT_FALSE(tmp_.path().empty());
        install_ = tmp_.path() / "inst";
    }

    void FreshInstallation() {
        fs::remove_all(install_);
        fs::copy(kDemoDir / "old", install_, fs::copy_options::recursive);
    }

    // Runs `sabunn update --yes` on the installation, killed just before
    // its `killAt`-th changing file operation (0: not at all).
    Outcome RunUpdate(int killAt) {
        ChildOptions options;
        if (killAt > 0) {
            options.environment = {{"MORIVANE_TEST_KILL_AT_OPERATION", std::to_string(killAt)}};
        }
        const RunResult r = RunProgram({kSabunn, "update", "--install-dir", install_.string(),
                                        "--payloads", (kDemoDir / "payloads").string(), "--yes"},
                                       tmp_.path(), options);
        return {r.signal == SIGKILL, r.status, r.out + r.err};
    }

    // Exactly the new tree, nothing more (no Clone.tmp, Clone*.bak or
    // Clone.rec), and the five files carry the update's modification time
    // (a start after the run may have read them since).
    void ExpectNewTree(const std::string& context) {
        SCOPED_TRACE(context);
        updatetest::ExpectNewTree(install_, true);
    }

    int CountAsides() const {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(install_)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("Clone") && name.ends_with(".bak")) ++n;
        }
        return n;
    }

    TempDir tmp_{"morivane_kill"};
    fs::path install_;
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
        const Outcome first = RunUpdate(n);
        if (!first.killed) {
            // Past the run's last operation: a whole, unkilled run.
            EXPECT_EQ(first.exitCode, 0) << first.output;
            ExpectNewTree("the run that was not killed");
            operations = n - 1;
            break;
        }
        const int asides = CountAsides();
        const Outcome second = RunUpdate(0);
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
        const Outcome first = RunUpdate(n);
        ASSERT_TRUE(first.killed) << "no commit found before the run's end";
        if (CountAsides() < 5) continue;
        const Outcome second = RunUpdate(0);
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
            ASSERT_TRUE(RunUpdate(chosen[c]).killed);
            const Outcome second = RunUpdate(m);
            if (!second.killed) {
                EXPECT_EQ(second.exitCode, expectedExit) << second.output;
                ExpectNewTree("after the second run, not killed");
                break;
            }
            const Outcome third = RunUpdate(0);
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
}  // namespace morivane::updatetest
