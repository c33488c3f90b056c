// Two updaters on one installation, and signals during a run. The runs are
// those of sabunn_killable, whose file system sends the process a signal
// just before its N-th changing file operation (tests/recovery/
// kill_file_system.cpp): SIGSTOP holds one run at an exact instant while
// another updater starts; SIGTERM and SIGINT ask a run to stop there.
#include <signal.h>

#include "tests/hostile/run_fixture.h"

namespace morivane::hostile {
namespace {

// The operation before which a run has made nothing yet: it has recovered,
// checked and confirmed, and is about to create its record.
constexpr int kBeforeTheRecord = 1;
// The one after it: the record exists, created, and nothing written to it.
constexpr int kRecordJustBorn = 2;

// A run held at an instant; it is killed if the test leaves it stopped.
class HeldRun {
  public:
    HeldRun(testing::Child child) : child_(std::move(child)) {}
    ~HeldRun() {
        if (!finished_) {
            ::kill(child_.pid, SIGKILL);
            testing::FinishProgram(child_);
        }
    }
    HeldRun(const HeldRun&) = delete;
    HeldRun& operator=(const HeldRun&) = delete;

    // True once it has stopped at its instant; otherwise `ended` says how
    // it ended instead.
    bool Stopped(RunResult* ended) {
        const bool stopped = testing::WaitUntilStopped(child_, ended);
        finished_ = !stopped;
        return stopped;
    }
    RunResult Continue() {
        ::kill(child_.pid, SIGCONT);
        finished_ = true;
        return testing::FinishProgram(child_);
    }
    void Kill() {
        ::kill(child_.pid, SIGKILL);
        finished_ = true;
        testing::FinishProgram(child_);
    }

  private:
    testing::Child child_;
    bool finished_ = false;
};

class RecordRaces : public HostileRun {
  protected:
    // sabunn_killable's update, sent `signal` just before its `at`-th
    // changing file operation.
    testing::Child Start(int at, const std::string& signal, const std::string& tag,
                         const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {SABUNN_KILLABLE_PATH, "update", "--install-dir",
                                         inst_.string(),       "--payloads", payloads_, "--yes"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildOptions options;
        options.alarmSeconds = kHangSeconds;
        options.environment = {{"MORIVANE_TEST_KILL_AT_OPERATION", std::to_string(at)},
                               {"MORIVANE_TEST_KILL_SIGNAL", signal}};
        return testing::StartProgram(argv, tmp_.path(), options, tag);
    }
    void FreshInstallation() {
        fs::remove_all(inst_);
        fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    }
};

TEST_F(RecordRaces, ARecordJustBornIsAlreadyHeld) {
    for (bool thenKilled : {false, true}) {
        SCOPED_TRACE(thenKilled ? "first run killed at that instant" : "first run goes on");
        FreshInstallation();
        HeldRun first(Start(kRecordJustBorn, "STOP", "first"));
        RunResult ended;
        ASSERT_TRUE(first.Stopped(&ended)) << ended.out << ended.err;
        // The instant: the record is there, and nothing is written in it.
        ASSERT_TRUE(fs::is_regular_file(inst_ / "Clone.rec"));
        EXPECT_EQ(fs::file_size(inst_ / "Clone.rec"), 0u);

        // A second updater sees a live run: refused with 15, nothing touched.
        const Tree during = Everything();
        const RunResult second = Update();
        EXPECT_EQ(second.status, 15) << second.out << second.err;
        EXPECT_NE(second.err.find("message 15: "), std::string::npos) << second.err;
        EXPECT_EQ(TreeDifferences(during, Everything()), "");

        if (thenKilled) {
            // The empty record left behind is cleared by the next start.
            first.Kill();
            const RunResult next = Update();
            EXPECT_EQ(next.status, 0) << next.out << next.err;
        } else {
            const RunResult done = first.Continue();
            EXPECT_EQ(done.status, 0) << done.out << done.err;
        }
        ExpectWhollyNew();
    }
}

TEST_F(RecordRaces, ASecondUpdaterAtAnyInstantOfARunTouchesNothingWhileItsRecordIsThere) {
    // The first run held before each of its changing operations in turn, a
    // second updater started there. While the record exists (made, written,
    // being removed) it is held: the second gets 15 and changes nothing.
    // Before it, the second updates and the first then finds the update
    // done (8); after it, the second finds it done.
    int live = 0;
    for (int n = 1; n < 400; ++n) {
        SCOPED_TRACE("first run held before operation " + std::to_string(n));
        FreshInstallation();
        HeldRun first(Start(n, "STOP", "first"));
        RunResult ended;
        if (!first.Stopped(&ended)) {  // past the run's last operation
            EXPECT_EQ(ended.status, 0) << ended.out << ended.err;
            ExpectWhollyNew();
            break;
        }
        const bool recordThere = fs::exists(fs::symlink_status(inst_ / "Clone.rec"));
        const Tree during = Everything();
        const RunResult second = Update();
        if (recordThere) {
            EXPECT_EQ(second.status, 15) << second.out << second.err;
            EXPECT_EQ(TreeDifferences(during, Everything()), "");
            ++live;
        } else {
            EXPECT_TRUE(second.status == 0 || second.status == 8) << second.out << second.err;
        }
        const RunResult done = first.Continue();
        EXPECT_TRUE(done.status == 0 || done.status == 8) << done.out << done.err;
        EXPECT_TRUE(done.status == 0 || second.status == 0);
        ExpectWhollyNew();
        if (HasFailure()) return;
    }
    EXPECT_GT(live, 20);
}

TEST_F(RecordRaces, OfTwoRunsPastTheirChecksTheLoserGets15) {
    // B has checked everything and is about to make its record when A makes
    // its own; then B goes on.
    HeldRun b(Start(kBeforeTheRecord, "STOP", "b"));
    RunResult ended;
    ASSERT_TRUE(b.Stopped(&ended)) << ended.out << ended.err;
    ASSERT_FALSE(fs::exists(inst_ / "Clone.rec"));
    HeldRun a(Start(kRecordJustBorn, "STOP", "a"));
    ASSERT_TRUE(a.Stopped(&ended)) << ended.out << ended.err;

    const Tree during = Everything();
    const RunResult loser = b.Continue();
    EXPECT_EQ(loser.status, 15) << loser.out << loser.err;
    EXPECT_NE(loser.err.find("message 15: "), std::string::npos) << loser.err;
    EXPECT_EQ(TreeDifferences(during, Everything()), "");

    const RunResult winner = a.Continue();
    EXPECT_EQ(winner.status, 0) << winner.out << winner.err;
    ExpectWhollyNew();
}

TEST_F(RecordRaces, ARunThatFindsTheUpdateDoneByAnotherStopsWith8) {
    // B checked an old installation without sums; A updates it completely
    // before B makes its record. B must not patch the new files.
    CopyPayloadsWithoutSums(tmp_.path() / "unsummed");
    const std::string summed = payloads_;
    payloads_ = (tmp_.path() / "unsummed").string();
    HeldRun b(Start(kBeforeTheRecord, "STOP", "b", {"--no-sums"}));
    RunResult ended;
    ASSERT_TRUE(b.Stopped(&ended)) << ended.out << ended.err;
    payloads_ = summed;
    const RunResult a = Update();
    ASSERT_EQ(a.status, 0) << a.out << a.err;

    const Tree updated = Everything();
    const RunResult late = b.Continue();
    EXPECT_EQ(late.status, 8) << late.out << late.err;
    EXPECT_NE(late.err.find("message 8: "), std::string::npos) << late.err;
    EXPECT_EQ(TreeDifferences(updated, Everything()), "");
    ExpectWhollyNew();
}

TEST_F(RecordRaces, TwoUpdatersStartedTogetherLeaveOneUpdateAndOneRefusal) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FreshInstallation();
        std::vector<std::string> argv = {kSabunn,      "update",  "--install-dir", inst_.string(),
                                         "--payloads", payloads_, "--yes"};
        ChildOptions options;
        options.alarmSeconds = kHangSeconds;
        const testing::Child one = testing::StartProgram(argv, tmp_.path(), options, "one");
        const testing::Child two = testing::StartProgram(argv, tmp_.path(), options, "two");
        const RunResult r1 = testing::FinishProgram(one);
        const RunResult r2 = testing::FinishProgram(two);
        // One updates; the other finds its run live (15) or finished (8).
        const int loser = r1.status == 0 ? r2.status : r1.status;
        EXPECT_TRUE(r1.status == 0 || r2.status == 0) << r1.err << r2.err;
        EXPECT_TRUE(loser == 15 || loser == 8) << r1.out << r1.err << r2.out << r2.err;
        ExpectWhollyNew();
    }
}

TEST_F(RecordRaces, AStopSignalAtAnyInstantPutsEveryFileBackOrFinishes) {
    // SIGTERM just before each changing operation of the run in turn: before
    // the commit the run puts every file back and ends with 128 + 15; from
    // the commit on it finishes. One SIGINT along the way ends with 128 + 2.
    int undone = 0;
    int finished = 0;
    for (int n = 1; n < 400; ++n) {
        SCOPED_TRACE("signal before operation " + std::to_string(n));
        FreshInstallation();
        const Tree before = Everything();
        const char* signal = n == 5 ? "INT" : "TERM";
        const RunResult r = testing::FinishProgram(Start(n, signal, "sweep"));
        ASSERT_EQ(r.signal, 0) << r.out << r.err;
        const std::string stopped = std::string("stopped by SIG") + signal;
        if (r.err.find(stopped) != std::string::npos) {
            EXPECT_EQ(r.status, 128 + (n == 5 ? SIGINT : SIGTERM));
            EXPECT_NE(r.err.find("the installation is as it was before this run"),
                      std::string::npos)
                << r.err;
            ASSERT_EQ(TreeDifferences(before, Everything()), "");
            ++undone;
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        ExpectWhollyNew();
        if (r.out.find("came after the new files were committed") == std::string::npos) break;
        ++finished;
    }
    EXPECT_GT(undone, 10);
    EXPECT_GT(finished, 0);
}

}  // namespace
}  // namespace morivane::hostile
