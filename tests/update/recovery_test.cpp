// Interrupted update runs: the record, the recovery at the next start, and
// every disk a power cut (or a killed process) can leave during a run or
// during a recovery, over the in-memory file system and its durability model.
#include "update/update_record.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "tests/support/test_installation.h"
#include "update/recovery.h"
#include "update/update_run.h"

namespace morivane {
namespace {

using testing::Describe;
using testing::DiskImage;
using testing::kDir;
using testing::kExe;
using testing::kRecord;
using testing::kTargets;
using testing::kTemp;
using testing::NewContent;
using testing::NewTree;
using testing::Original;
using testing::Volume;

const InstallationPaths kPaths = PathsOf(kExe, kDir);

DiskImage OldTree() {
    return testing::OldTree(true);
}

// The test installation as installed, with a read-only executable, or as a
// cut left it.
struct Installation : testing::TestInstallation {
    explicit Installation(const DiskImage& disk = OldTree()) : TestInstallation(disk, true) {}
    RecoveryResult Recover() {
        return RecoverInterruptedUpdate(files, kPaths, hostEnvironment.get(), {});
    }
};

enum class Tree { kOld, kNew };

// Starts the updater on disks that power cuts left and checks what the
// recovery makes of each: exactly the old tree (and then a run that goes
// through) or exactly the new one with the version recorded, nothing else
// in the directory, nothing left open. With `cutRecoveries` each recovery is
// itself cut at every instant, and the start after it must end in the same
// tree, and so on until no new disk turns up.
class PowerCutCheck {
  public:
    explicit PowerCutCheck(bool cutRecoveries) : cutRecoveries_(cutRecoveries) {}

    // Checks every disk a cut at `instant` can leave; the trees they ended in.
    std::set<Tree> AtInstant(const Volume& instant, const std::string& where) {
        std::set<Tree> trees;
        const auto context = std::make_shared<const std::string>(where);
        for (DiskImage& disk : instant.AfterPowerCut()) {
            const testing::DiskKey key = testing::KeyOf(disk);
            auto known = ends_.find(key);
            if (known != ends_.end()) {
                trees.insert(known->second);
                continue;
            }
            trees.insert(Check({std::move(disk), key, std::nullopt, context, -1}));
            if (::testing::Test::HasFailure()) break;
        }
        return trees;
    }

    std::size_t disks() const { return ends_.size(); }
    int recoveryCuts() const { return recoveryCuts_; }

  private:
    // A disk to start on, the tree it must end in, and how it came about:
    // `where`, then a cut of that disk's recovery at instant `instant`.
    struct Start {
        DiskImage disk;
        testing::DiskKey key;
        std::optional<Tree> mustBe;
        std::shared_ptr<const std::string> where;
        int instant;
    };

    Tree Check(Start start) {
        const Tree tree = CheckOne(start);
        while (!queue_.empty() && !::testing::Test::HasFailure()) {
            Start next = std::move(queue_.front());
            queue_.pop_front();
            CheckOne(next);
        }
        queue_.clear();
        return tree;
    }

    Tree CheckOne(const Start& start) {
        Installation inst(start.disk);
        RecoveryResult result = RecoveryResult::kBlocked;
        std::vector<Volume> during;
        if (cutRecoveries_) {
            during = inst.RecordInstants([&] { result = inst.Recover(); });
        } else {
            result = inst.Recover();
        }
        EXPECT_NE(result, RecoveryResult::kBlocked);
        EXPECT_EQ(inst.files.OpenFiles(), 0);
        DiskImage after = inst.files.Image();
        const Tree tree = after == NewTree() ? Tree::kNew : Tree::kOld;
        if (tree == Tree::kOld && after != OldTree()) {
            ADD_FAILURE() << "neither the old nor the new tree:\n" << Describe(after);
        }
        EXPECT_EQ(inst.VersionWritten(), result == RecoveryResult::kCompleted);
        if (start.mustBe) {
            EXPECT_EQ(tree, *start.mustBe) << "a start after a cut recovery changed its mind";
        }
        ends_[start.key] = tree;
        if (tree == Tree::kOld && rerun_.insert(testing::KeyOf(inst.files.Image())).second) {
            // The update then goes through as if nothing had happened, over
            // the cut run's own temporary file too.
            EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
            EXPECT_TRUE(inst.IsUpdated());
        }
        // The checks stop at the first failure, so any failure now is this
        // disk's.
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "the start on this disk, " << Where(start) << ":\n"
                          << Describe(start.disk);
            return tree;
        }
        if (during.empty()) return tree;

        // Every disk a cut of this recovery leaves must end in the same tree.
        // Those met before with the same tree are not started again; one met
        // with the other tree is, to show it.
        const auto context = std::make_shared<const std::string>(Where(start));
        auto unseen = [&](testing::DiskKey key) {
            ++recoveryCuts_;
            auto [known, fresh] = ends_.emplace(key, tree);
            return fresh || known->second != tree;
        };
        for (std::size_t j = 0; j < during.size(); ++j) {
            // Only entries changed before the next instant: a cut there can
            // leave every disk a cut here can.
            if (j + 1 < during.size() && during[j].FileChanges() == during[j + 1].FileChanges()) {
                continue;
            }
            for (DiskImage& cut : during[j].AfterPowerCut(unseen)) {
                const testing::DiskKey key = testing::KeyOf(cut);
                queue_.push_back({std::move(cut), key, tree, context, static_cast<int>(j)});
            }
        }
        return tree;
    }

    static std::string Where(const Start& start) {
        if (start.instant < 0) return *start.where;
        return *start.where + ", then its recovery cut at instant " + std::to_string(start.instant);
    }

    bool cutRecoveries_;
    // Disk -> the tree a start on it ended in, or must end in while it waits.
    std::unordered_map<testing::DiskKey, Tree> ends_;
    std::unordered_set<testing::DiskKey> rerun_;
    std::deque<Start> queue_;
    int recoveryCuts_ = 0;
};

TEST(Recovery, WithoutARecordNothingIsTouched) {
    Installation inst;
    inst.files.Put(kTemp, "someone's");
    inst.files.Put(kDir + "Clone1.bak", "someone's");
    EXPECT_EQ(inst.Recover(), RecoveryResult::kNothingToDo);
    EXPECT_TRUE(inst.files.log.empty());
    EXPECT_EQ(inst.Leftovers().size(), 2u);
    EXPECT_EQ(RecoverInterruptedUpdate(inst.files, PathsOf(kExe, ""), nullptr, {}),
              RecoveryResult::kNothingToDo);
}

TEST(PowerCut, AtAnyInstantOfARunTheNextStartFindsTheOldOrTheNewTree) {
    Installation run;
    const std::vector<Volume> instants =
        run.RecordInstants([&] { EXPECT_EQ(run.Run(), IDS_UPDATE_DONE); });
    ASSERT_TRUE(run.IsUpdated());
    ASSERT_GT(instants.size(), 30u);  // five rows of patch, record, two moves, stamp

    // The old tree up to the commit, the new one from it on: at the instant
    // the commit entry is being made durable either, never back again.
    PowerCutCheck check(false);
    std::optional<std::size_t> firstNew;
    std::size_t lastOld = 0;
    for (std::size_t k = 0; k < instants.size(); ++k) {
        const std::set<Tree> trees =
            check.AtInstant(instants[k], "cut at instant " + std::to_string(k));
        ASSERT_FALSE(HasFailure());
        if (trees.count(Tree::kNew) != 0 && !firstNew) firstNew = k;
        if (trees.count(Tree::kOld) != 0) lastOld = k;
    }
    ASSERT_TRUE(firstNew.has_value());
    EXPECT_LE(lastOld, *firstNew);
    EXPECT_GT(lastOld, 25u);
    EXPECT_LT(*firstNew + 5, instants.size());  // the deletions of the originals and the record
    std::printf("%zu instants, %zu different disks after a cut\n", instants.size(), check.disks());
}

TEST(PowerCut, AtAnyInstantOfAFailedRunTheNextStartFindsTheOldTree) {
    Installation run;
    run.failures[140] = 12;  // the fifth file: four originals to put back
    const std::vector<Volume> instants =
        run.RecordInstants([&] { EXPECT_EQ(run.Run(), IDS_UPDATE_FAILED); });
    ASSERT_TRUE(run.IsOriginal());
    PowerCutCheck check(false);
    for (std::size_t k = 0; k < instants.size(); ++k) {
        EXPECT_EQ(check.AtInstant(instants[k], "cut at instant " + std::to_string(k)),
                  std::set<Tree>{Tree::kOld});
        ASSERT_FALSE(HasFailure());
    }
    std::printf("%zu instants, %zu different disks after a cut\n", instants.size(), check.disks());
}

TEST(PowerCut, DuringARecoveryTheStartAfterItFindsTheSameTree) {
    PowerCutCheck check(true);
    for (int failingPayload : {0, 140}) {
        Installation run;
        run.failures[failingPayload] = 12;
        const std::vector<Volume> instants = run.RecordInstants([&] { run.Run(); });
        for (std::size_t k = 0; k < instants.size(); ++k) {
            check.AtInstant(instants[k], (failingPayload ? "failed run" : "run") +
                                             std::string(" cut at instant ") + std::to_string(k));
            ASSERT_FALSE(HasFailure());
        }
    }
    EXPECT_GT(check.recoveryCuts(), 1000);
    std::printf("%d cuts of recoveries, %zu different disks in all\n", check.recoveryCuts(),
                check.disks());
}

TEST(Recovery, AnOriginalThatCannotGoBackKeepsTheRecordForTheNextStart) {
    // A crash after row 2's new file was moved in; the new file is locked.
    Installation run;
    const std::vector<Volume> instants = run.RecordInstants([&] { run.Run(); });
    std::size_t k = 0;
    while (k < instants.size() && !(instants[k].Has(kTargets[1]) &&
                                    instants[k].Find(kTargets[1])->content == NewContent(1))) {
        ++k;
    }
    ASSERT_LT(k, instants.size());
    Installation inst(instants[k].Now());
    inst.files.undeletable.insert(kTargets[1]);
    EXPECT_EQ(inst.Recover(), RecoveryResult::kBlocked);
    // Row 1 is back; row 2's original waits aside with the record.
    EXPECT_EQ(inst.files.At(kExe).content, Original(0));
    EXPECT_TRUE(inst.files.Has(kRecord));
    EXPECT_EQ(inst.files.At(kDir + "Clone2.bak").content, Original(1));
    inst.files.undeletable.clear();
    EXPECT_EQ(inst.Recover(), RecoveryResult::kRolledBack);
    EXPECT_TRUE(inst.IsOriginal());
}

TEST(Recovery, AReadOfACutOrCorruptedRecordKeepsOnlyTheEntriesBeforeTheDamage) {
    Installation run;
    std::string full;
    run.files.beforeMutation = [&] {
        if (run.files.Has(kRecord)) full = run.files.At(kRecord).content;
    };
    run.Run();
    const RecordContents whole = ParseUpdateRecord(full, kPaths.rowNames);
    ASSERT_TRUE(whole.committed);
    ASSERT_EQ(whole.asides.size(), 5u);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(whole.asides[row].row, static_cast<int>(row));
        EXPECT_EQ(whole.asides[row].asideNumber, static_cast<int>(row) + 1);
    }
    auto isPrefix = [&](const RecordContents& part) {
        if (part.asides.size() > whole.asides.size()) return false;
        for (std::size_t i = 0; i < part.asides.size(); ++i) {
            if (part.asides[i].asideNumber != whole.asides[i].asideNumber ||
                part.asides[i].row != whole.asides[i].row) {
                return false;
            }
        }
        return true;
    };
    std::size_t previous = 0;
    for (std::size_t length = 0; length < full.size(); ++length) {
        const RecordContents part =
            ParseUpdateRecord(std::string_view(full).substr(0, length), kPaths.rowNames);
        EXPECT_FALSE(part.foreign);
        EXPECT_FALSE(part.committed);  // the commit is the last entry
        EXPECT_TRUE(isPrefix(part));
        EXPECT_GE(part.asides.size(), previous);
        previous = part.asides.size();
    }
    for (std::size_t at = 0; at < full.size(); ++at) {
        std::string flipped = full;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x20);
        const RecordContents part = ParseUpdateRecord(flipped, kPaths.rowNames);
        EXPECT_TRUE(part.foreign || (isPrefix(part) && !part.committed)) << "byte " << at;
    }
}

TEST(UpdateRun, EveryFailureToMakeTheRecordOrTheNewFilesDurableLeavesAWholeInstallation) {
    Installation clean;
    ASSERT_EQ(clean.Run(), IDS_UPDATE_DONE);
    const int syncs = clean.files.syncs;
    ASSERT_GT(syncs, 10);  // the record's entries, five new files, directories
    int undone = 0;
    int leftForRecovery = 0;
    for (int n = 1; n <= syncs; ++n) {
        SCOPED_TRACE("sync " + std::to_string(n) + " fails");
        Installation inst;
        inst.files.failSyncNumber = n;
        const int result = inst.Run();
        if (result == IDS_UPDATE_DONE) {
            // A sync after the commit: the deletions of the originals.
            EXPECT_TRUE(inst.IsUpdated());
            EXPECT_TRUE(inst.Leftovers().empty());
            continue;
        }
        EXPECT_TRUE(result == IDS_TEMP_CREATE_FAILED || result == IDS_UPDATE_FAILED) << result;
        EXPECT_FALSE(inst.files.Has(kDir + "Clone.tmp"));
        EXPECT_FALSE(inst.VersionWritten());
        if (inst.IsOriginal()) {
            ++undone;
            continue;
        }
        // The commit entry itself could not be synced: whether it is on the
        // disk decides, so the files stay for the next start.
        ++leftForRecovery;
        EXPECT_TRUE(inst.files.Has(kRecord));
        const RecoveryResult recovered = inst.Recover();
        EXPECT_EQ(recovered, RecoveryResult::kCompleted);  // here the entry was written
        EXPECT_TRUE(inst.IsUpdated());
    }
    EXPECT_EQ(leftForRecovery, 1);
    EXPECT_GE(undone, syncs - 3);
}

TEST(UpdateRun, AnExistingRecordIsNeverOverwritten) {
    Installation inst;
    inst.files.Put(kRecord, "an earlier run's");
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    EXPECT_EQ(inst.files.At(kRecord).content, "an earlier run's");
    EXPECT_TRUE(inst.files.log.empty());

    // A record that cannot be made: nothing is moved, nothing is left.
    Installation blocked;
    blocked.files.uncreatable.insert(kRecord);
    EXPECT_EQ(blocked.Run(), IDS_TEMP_CREATE_FAILED);
    EXPECT_TRUE(blocked.IsOriginal());
    EXPECT_TRUE(blocked.Leftovers().empty());
}

}  // namespace
}  // namespace morivane
