// Interrupted update runs: the record, the recovery at the next start, and
// every instant at which a run (or a recovery) can stop, over the in-memory
// file system.
#include "update/update_record.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/test_installation.h"
#include "update/recovery.h"
#include "update/update_run.h"

namespace morivane {
namespace {

using testing::FakeFileSystem;
using testing::kDir;
using testing::kExe;
using testing::kRecord;
using testing::kTargets;
using testing::NewContent;
using testing::Original;

const InstallationPaths kPaths = PathsOf(kExe, kDir);

// What the files looked like at one instant: the file table, and for each
// file open for writing how much of it had been synced.
struct Instant {
    std::map<std::string, FakeFileSystem::File> files;
    std::map<std::string, std::size_t> writing;
};

// The test installation with a read-only executable, and the instants of
// whatever is done to it.
struct Installation : testing::TestInstallation {
    Installation() : TestInstallation(true) {}

    RecoveryResult Recover(const SumsLookup& sums = {}) {
        return RecoverInterruptedUpdate(files, kPaths, hostEnvironment.get(), sums);
    }
    bool IsOriginal() const { return TestInstallation::IsOriginal(true); }

    // Every instant of `what`, just before each of its changing operations,
    // and the state after its end.
    std::vector<Instant> RecordInstants(const std::function<void()>& what) {
        std::vector<Instant> instants;
        files.beforeMutation = [&] { instants.push_back({files.files, files.writing}); };
        what();
        files.beforeMutation = nullptr;
        instants.push_back({files.files, files.writing});
        return instants;
    }
};

// The file table a crash at `instant` can leave: every file open for writing
// keeps between its synced length and all it was given; the record keeps
// `recordLength` bytes, the others only what was synced.
std::map<std::string, FakeFileSystem::File> CrashState(const Instant& instant,
                                                       std::size_t recordLength) {
    auto files = instant.files;
    for (const auto& [path, synced] : instant.writing) {
        auto it = files.find(path);
        if (it == files.end()) continue;
        it->second.content.resize(path == kRecord ? recordLength : synced);
    }
    return files;
}

// The record lengths a crash at `instant` can leave: from what was synced to
// all that was written, byte by byte.
std::pair<std::size_t, std::size_t> RecordLengths(const Instant& instant) {
    auto open = instant.writing.find(kRecord);
    auto file = instant.files.find(kRecord);
    if (file == instant.files.end()) return {0, 0};
    if (open == instant.writing.end())
        return {file->second.content.size(), file->second.content.size()};
    return {open->second, file->second.content.size()};
}

TEST(Recovery, WithoutARecordNothingIsTouched) {
    Installation inst;
    inst.files.Put(kDir + "Clone.tmp", "someone's");
    inst.files.Put(kDir + "Clone1.bak", "someone's");
    EXPECT_EQ(inst.Recover(), RecoveryResult::kNothingToDo);
    EXPECT_TRUE(inst.files.log.empty());
    EXPECT_EQ(inst.Leftovers().size(), 2u);
    EXPECT_EQ(RecoverInterruptedUpdate(inst.files, PathsOf(kExe, ""), nullptr, {}),
              RecoveryResult::kNothingToDo);
}

TEST(Recovery, ACrashAtAnyInstantOfARunIsUndoneOrCompleted) {
    Installation run;
    const std::vector<Instant> instants =
        run.RecordInstants([&] { EXPECT_EQ(run.Run(), IDS_UPDATE_DONE); });
    ASSERT_TRUE(run.IsUpdated());
    ASSERT_GT(instants.size(), 30u);  // five rows of patch, record, two moves, stamp

    // Outcomes in the order of the instants: nothing (no record yet), then
    // undone, then, from the commit on, completed; never back.
    int phase = 0;
    int undone = 0;
    int completed = 0;
    for (std::size_t k = 0; k < instants.size(); ++k) {
        const auto [shortest, longest] = RecordLengths(instants[k]);
        for (std::size_t length = shortest; length <= longest; ++length) {
            SCOPED_TRACE("instant " + std::to_string(k) + ", record of " + std::to_string(length) +
                         " bytes");
            Installation inst;
            inst.files.files = CrashState(instants[k], length);
            const RecoveryResult result = inst.Recover();
            ASSERT_NE(result, RecoveryResult::kBlocked);
            if (result == RecoveryResult::kNothingToDo) {
                // Before the record begins, the first temporary file at most.
                inst.files.files.erase(kDir + "Clone.tmp");
            }
            EXPECT_TRUE(inst.Leftovers().empty());
            EXPECT_EQ(inst.files.openFiles, 0);
            if (result == RecoveryResult::kCompleted) {
                EXPECT_TRUE(inst.IsUpdated());
                EXPECT_TRUE(inst.VersionWritten());
                ASSERT_GE(phase, 1);
                phase = 2;
                ++completed;
                continue;
            }
            // The last instant is the finished run, which needs no recovery.
            if (k + 1 == instants.size()) {
                EXPECT_EQ(result, RecoveryResult::kNothingToDo);
                EXPECT_TRUE(inst.IsUpdated());
                continue;
            }
            ASSERT_LT(phase, 2);
            if (result == RecoveryResult::kNothingToDo) {
                // Only before the record exists: the installation is whole.
                EXPECT_EQ(phase, 0);
            } else {
                phase = 1;
                ++undone;
            }
            EXPECT_TRUE(inst.IsOriginal());
            EXPECT_FALSE(inst.VersionWritten());
            // And the update then goes through as if nothing had happened,
            // over the crash's own temporary file too.
            inst.files.files = CrashState(instants[k], length);
            inst.Recover();
            EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
            EXPECT_TRUE(inst.IsUpdated());
            EXPECT_TRUE(inst.Leftovers().empty());
        }
    }
    EXPECT_GT(undone, 25);
    EXPECT_GT(completed, 5);  // the deletions of the five originals and the record
}

TEST(Recovery, ACrashWhileAFailedRunPutsItselfBackIsUndoneToo) {
    Installation run;
    run.failures[140] = 12;  // the fifth file: four originals to put back
    const std::vector<Instant> instants =
        run.RecordInstants([&] { EXPECT_EQ(run.Run(), IDS_UPDATE_FAILED); });
    ASSERT_TRUE(run.IsOriginal());
    int undone = 0;
    for (std::size_t k = 0; k < instants.size(); ++k) {
        SCOPED_TRACE("instant " + std::to_string(k));
        Installation inst;
        inst.files.files = CrashState(instants[k], RecordLengths(instants[k]).second);
        const RecoveryResult result = inst.Recover();
        ASSERT_TRUE(result == RecoveryResult::kRolledBack ||
                    result == RecoveryResult::kNothingToDo);
        if (result == RecoveryResult::kRolledBack) {
            ++undone;
        } else {
            inst.files.files.erase(kDir + "Clone.tmp");  // before the record, as above
        }
        EXPECT_TRUE(inst.IsOriginal());
        EXPECT_TRUE(inst.Leftovers().empty());
    }
    EXPECT_GT(undone, 20);
}

TEST(Recovery, ACrashDuringRecoveryIsRecoveredByTheNextStart) {
    Installation run;
    const std::vector<Instant> instants = run.RecordInstants([&] { run.Run(); });
    int restarts = 0;
    for (std::size_t k = 0; k + 1 < instants.size(); ++k) {
        Installation first;
        first.files.files = CrashState(instants[k], RecordLengths(instants[k]).second);
        if (!first.files.Has(kRecord)) continue;  // nothing for a recovery to do
        const std::vector<Instant> during = first.RecordInstants([&] { first.Recover(); });
        const bool wasUpdated = first.IsUpdated();
        for (std::size_t j = 0; j < during.size(); ++j) {
            SCOPED_TRACE("run instant " + std::to_string(k) + ", recovery instant " +
                         std::to_string(j));
            Installation second;
            second.files.files = CrashState(during[j], 0);
            ASSERT_NE(second.Recover(), RecoveryResult::kBlocked);
            EXPECT_TRUE(second.Leftovers().empty());
            EXPECT_EQ(wasUpdated ? second.IsUpdated() : second.IsOriginal(), true);
            ++restarts;
        }
    }
    EXPECT_GT(restarts, 100);
}

TEST(Recovery, AnOriginalThatCannotGoBackKeepsTheRecordForTheNextStart) {
    // A crash after row 2's new file was moved in; the new file is locked.
    Installation run;
    const std::vector<Instant> instants = run.RecordInstants([&] { run.Run(); });
    std::size_t k = 0;
    while (k < instants.size() && !(instants[k].files.count(kTargets[1]) != 0 &&
                                    instants[k].files.at(kTargets[1]).content == NewContent(1))) {
        ++k;
    }
    ASSERT_LT(k, instants.size());
    Installation inst;
    inst.files.files = CrashState(instants[k], RecordLengths(instants[k]).second);
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
