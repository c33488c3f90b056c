#include "update/update_run.h"

#include <gtest/gtest.h>

#include <tuple>

#include "patch/sabunn_script.h"
#include "platform/memory_payload_store.h"
#include "tests/support/test_installation.h"
#include "update/recovery.h"

namespace morivane {
namespace {

using testing::kDir;
using testing::kExe;
using testing::kIds;
using testing::kKey;
using testing::kTargets;
using testing::kTemp;
using testing::NewContent;
using testing::Original;
using Installation = testing::TestInstallation;

RecoveryResult Recover(Installation& inst) {
    return RecoverInterruptedUpdate(inst.files, PathsOf(kExe, kDir), inst.hostEnvironment.get(),
                                    {});
}

TEST(UpdateRun, ReplacesTheFiveFilesInOrderAndRecordsTheNewVersion) {
    Installation inst;
    EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);

    ASSERT_EQ(inst.calls.size(), 5u);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(inst.calls[row], std::make_tuple(kTargets[row], kTemp, kIds[row]));
    }
    EXPECT_TRUE(inst.Leftovers().empty());
    const testing::FakeHost::Value* version = inst.host.Find(kKey, "Version");
    ASSERT_NE(version, nullptr);  // the replaced executable's version
    EXPECT_EQ(std::string(version->data.begin(), version->data.end()),
              std::string("1, 0, 0, 2\0", 11));
    EXPECT_EQ(inst.view.events, (std::vector<std::string>{"wait begin", "status 52", "hide cancel",
                                                          "status 53", "wait end"}));
    EXPECT_EQ(inst.files.OpenFiles(), 0);
    EXPECT_EQ(inst.host.OpenHandles(), 0u);
}

TEST(UpdateRun, AFailedPatchAtAnyRowPutsEveryFileBack) {
    for (std::size_t failing = 0; failing < 5; ++failing) {
        for (int code : {10, 11, 12, 13}) {
            SCOPED_TRACE("row " + std::to_string(failing + 1) + " result " + std::to_string(code));
            Installation inst;
            inst.SetReadOnly(kExe);  // attributes come back too
            inst.failures[kIds[failing]] = code;
            EXPECT_EQ(inst.Run(), code);
            EXPECT_EQ(inst.view.statuses, (std::vector<int>{IDS_UPDATING, code}));
            inst.ExpectUntouched(0, true);
            for (std::size_t row = 1; row < 5; ++row) inst.ExpectUntouched(row);
            EXPECT_TRUE(inst.Leftovers().empty());
            EXPECT_FALSE(inst.VersionWritten());
            EXPECT_EQ(inst.calls.size(), failing + 1);  // later rows never patched
            EXPECT_EQ(inst.view.events.back(), "wait end");
        }
    }
}

TEST(UpdateRun, ADataFileThatCannotBeOpenedGivesItsMessageAfterUndoingTheExecutable) {
    Installation inst;
    inst.files.unreadable.insert(kTargets[2]);
    EXPECT_EQ(inst.Run(), IDS_EXE_IN_USE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_TRUE(inst.Leftovers().empty());
}

TEST(UpdateRun, RunningAgainAfterAFailureMeetsTheOriginalInstallation) {
    Installation inst;
    inst.failures[139] = 12;
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    // The executable is the original again, so start-up would not refuse it
    // as already updated; a second run completes.
    std::string version;
    ASSERT_EQ(inst.hostEnvironment->GetFileVersionString(kExe, version), 1);
    EXPECT_EQ(version, "1, 0, 0, 1");
    inst.failures.clear();
    EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);
}

TEST(UpdateRun, ReadOnlyTargetsAreReplacedAndLoseTheAttribute) {
    Installation inst;
    inst.SetReadOnly(kExe);
    inst.SetReadOnly(kTargets[3]);
    EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);
    EXPECT_TRUE(inst.Leftovers().empty());  // the read-only originals were removed too
}

TEST(UpdateRun, ATargetThatCannotBeMovedAsideFailsTheRunWithoutLoss) {
    Installation inst;
    inst.files.unmovableFrom.insert(kTargets[2]);
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_TRUE(inst.Leftovers().empty());
    EXPECT_FALSE(inst.VersionWritten());
    EXPECT_EQ(inst.calls.size(), 3u);
}

TEST(UpdateRun, ATemporaryFileThatCannotBeMovedInPutsTheOriginalBack) {
    Installation inst;
    inst.files.moveFails = [](const std::string& from, const std::string& to) {
        return from == kTemp && to == kTargets[1];
    };
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_TRUE(inst.Leftovers().empty());  // Clone.tmp with the new content is gone
    EXPECT_FALSE(inst.VersionWritten());
}

TEST(UpdateRun, AnOriginalWhoseWayBackIsBlockedIsKeptAside) {
    // Row 2 cannot move in, and its original cannot be moved back either.
    Installation inst;
    inst.files.moveFails = [](const std::string& from, const std::string& to) {
        return to == kTargets[1] && (from == kTemp || from.ends_with(".bak"));
    };
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    inst.ExpectUntouched(0);
    for (std::size_t row = 2; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_FALSE(inst.files.Has(kTargets[1]));
    // The original's content survives under its aside name, and the record
    // stays with it so that the next start can put it back.
    EXPECT_EQ(inst.Leftovers(),
              (std::vector<std::string>{kDir + "Clone.rec", kDir + "Clone2.bak"}));
    EXPECT_EQ(inst.files.At(kDir + "Clone2.bak").content, Original(1));
    EXPECT_FALSE(inst.VersionWritten());

    // Once the way is free, the next start's recovery finishes the undo.
    inst.files.moveFails = nullptr;
    EXPECT_EQ(Recover(inst), RecoveryResult::kRolledBack);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_TRUE(inst.Leftovers().empty());
}

TEST(UpdateRun, AReplacedFileThatCannotBeRemovedDuringUndoKeepsItsOriginalAside) {
    Installation inst;
    inst.failures[140] = 13;
    inst.files.undeletable.insert(kTargets[1]);
    EXPECT_EQ(inst.Run(), IDS_OUT_OF_MEMORY);
    inst.ExpectUntouched(0);
    for (std::size_t row = 2; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_EQ(inst.Leftovers(),
              (std::vector<std::string>{kDir + "Clone.rec", kDir + "Clone2.bak"}));
    EXPECT_EQ(inst.files.At(kDir + "Clone2.bak").content, Original(1));

    // While the record is there, a run touches nothing; the recovery at the
    // next start puts the original back once the new file can go.
    const auto log = inst.files.log.size();
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    EXPECT_EQ(inst.files.log.size(), log);
    EXPECT_EQ(Recover(inst), RecoveryResult::kBlocked);
    inst.files.undeletable.clear();
    EXPECT_EQ(Recover(inst), RecoveryResult::kRolledBack);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_TRUE(inst.Leftovers().empty());
}

TEST(UpdateRun, NamesAlreadyTakenAreSkippedNotDeleted) {
    Installation inst;
    inst.files.Put(kDir + "Clone1.bak", "someone's file");
    inst.files.Put(kDir + "Clone.tmp", "stale temporary");
    EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);
    EXPECT_EQ(inst.Leftovers(), std::vector<std::string>{kDir + "Clone1.bak"});
    EXPECT_EQ(inst.files.At(kDir + "Clone1.bak").content, "someone's file");
}

TEST(UpdateRun, ARecordThereAlreadyIsLeftAloneAndTellsWhoseItIs) {
    // Held open, it is the live run of an updater started alongside this
    // one: 15. Nobody holding it, it was left behind: 12. Nothing is touched.
    for (bool held : {true, false}) {
        SCOPED_TRACE(held ? "held" : "left behind");
        Installation inst;
        inst.files.Put(testing::kRecord, "another run's");
        if (held) inst.files.heldElsewhere.insert(testing::kRecord);
        const testing::DiskImage before = inst.files.Image();
        EXPECT_EQ(inst.Run(), held ? IDS_UPDATER_RUNNING : IDS_UPDATE_FAILED);
        EXPECT_EQ(inst.files.Image(), before);
        EXPECT_TRUE(inst.calls.empty());
    }
}

TEST(UpdateRun, AnInstallationUpdatedSinceTheChecksIsLeftAlone) {
    // Another updater finished the update between this one's checks and
    // its record: seen by the sums, or without them by the FileVersion, once
    // the run holds its record. Patching the new files would make wrong ones.
    for (bool withSums : {true, false}) {
        SCOPED_TRACE(withSums ? "with sums" : "without sums");
        Installation inst;
        inst.files.Load(testing::NewTree());
        UpdateContext context = inst.Context();
        if (withSums) context.sums = Installation::Sums();
        EXPECT_EQ(RunUpdate(context, kExe, kDir, inst.view), IDS_ALREADY_UPDATED);
        EXPECT_TRUE(inst.IsUpdated());
        EXPECT_TRUE(inst.calls.empty());
        EXPECT_TRUE(inst.Leftovers().empty());
    }
}

TEST(UpdateRun, AStopRequestedPutsEveryFileBackUntilTheCommit) {
    // The stop is asked for with each changing operation of the run in turn.
    int undone = 0;
    int finished = 0;
    for (int n = 1; n < 200; ++n) {
        SCOPED_TRACE("stop asked at operation " + std::to_string(n));
        Installation inst;
        int operations = 0;
        inst.files.beforeMutation = [&operations] { ++operations; };
        UpdateContext context = inst.Context();
        context.stopRequested = [&operations, n] { return operations >= n; };
        const int result = RunUpdate(context, kExe, kDir, inst.view);
        EXPECT_TRUE(inst.Leftovers().empty());
        if (operations < n) {  // past the run's last operation
            EXPECT_EQ(result, IDS_UPDATE_DONE);
            break;
        }
        if (result == IDS_UPDATE_FAILED) {
            EXPECT_TRUE(inst.IsOriginal()) << testing::Describe(inst.files.Image());
            EXPECT_FALSE(inst.VersionWritten());
            ++undone;
        } else {
            EXPECT_EQ(result, IDS_UPDATE_DONE);
            EXPECT_TRUE(inst.IsUpdated());
            ++finished;
        }
    }
    EXPECT_GT(undone, 10);
    EXPECT_GT(finished, 0);
}

TEST(UpdateRun, AFileSomeonePutsUnderTheTemporaryNameIsNeverOpened) {
    // Planted between the run clearing the name and the patch creating its
    // new file there: the patch makes its file only as a new one, so it
    // fails with 11 before the payload is even looked up, instead of
    // emptying and writing into what it found.
    Installation inst;
    MemoryPayloadStore payloads;  // never reached
    inst.files.Put(kTemp, "left over");
    inst.files.beforeMutation = [&inst] {
        if (!inst.files.log.empty() && inst.files.log.back() == "delete " + kTemp &&
            !inst.files.Has(kTemp)) {
            inst.files.Put(kTemp, "planted");
        }
    };
    UpdateContext context{inst.files, FreshDiffPatcher(inst.files, payloads),
                          inst.hostEnvironment.get()};
    EXPECT_EQ(RunUpdate(context, kExe, kDir, inst.view), IDS_TEMP_CREATE_FAILED);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
}

TEST(UpdateRun, DataFilesAreFoundFromTheInstallationDirectory) {
    // An executable whose name is not 12 bytes long.
    Installation inst;
    const std::string exe = kDir + "Mv.exe";
    testing::DiskImage image = inst.files.Image();
    image[exe] = image[kExe];
    image.erase(kExe);
    inst.files.Load(image);
    EXPECT_EQ(inst.Run(exe, kDir), IDS_UPDATE_DONE);
    for (std::size_t row = 1; row < 5; ++row) inst.ExpectReplaced(row);
    EXPECT_EQ(inst.files.At(exe).content, NewContent(0));
    EXPECT_EQ(std::get<0>(inst.calls[1]), kDir + "dat\\Iobjectc.til");
}

TEST(UpdateRun, EmptyOrUnusablePathsTouchNothing) {
    const std::string longDir = "C:\\" + std::string(280, 'd') + "\\";
    for (auto [boot, dir] : {std::pair<std::string, std::string>{"", kDir},
                             {kExe, ""},
                             {"", ""},
                             {kExe, longDir},
                             {kDir + "CLONE.TMP", kDir}}) {
        SCOPED_TRACE(boot + " | " + dir.substr(0, 20));
        Installation inst;
        const testing::DiskImage before = inst.files.Image();
        EXPECT_EQ(inst.Run(boot, dir), IDS_UPDATE_FAILED);
        EXPECT_EQ(inst.view.events,
                  (std::vector<std::string>{"wait begin", "status 52", "hide cancel", "status 12",
                                            "wait end"}));
        EXPECT_TRUE(inst.calls.empty());
        EXPECT_EQ(inst.files.Image(), before);
        EXPECT_TRUE(inst.files.log.empty());
        for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    }
}

TEST(UpdateRun, AFailedStampOrVersionRecordDoesNotFailTheRun) {
    {
        Installation inst;
        inst.files.unstampable.insert(kTargets[4]);
        EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
        EXPECT_EQ(inst.files.At(kTargets[4]).time, std::nullopt);
        EXPECT_TRUE(inst.VersionWritten());
        EXPECT_TRUE(inst.Leftovers().empty());
    }
    {
        Installation inst;
        inst.host.setFails = true;
        EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
        for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);
        EXPECT_TRUE(inst.Leftovers().empty());
    }
    {
        Installation inst;  // no host: no record at all
        UpdateContext context = inst.Context();
        context.host = nullptr;
        EXPECT_EQ(RunUpdate(context, kExe, kDir, inst.view), IDS_UPDATE_DONE);
        EXPECT_FALSE(inst.VersionWritten());
    }
}

TEST(UpdateOk, TheFirstOkRunsAndEveryLaterOneOnlyAsksToClose) {
    for (bool failing : {false, true}) {
        Installation inst;
        if (failing) inst.failures[137] = 12;
        bool runFinished = false;
        EXPECT_FALSE(HandleUpdateOk(runFinished, inst.Context(), kExe, kDir, inst.view));
        EXPECT_TRUE(runFinished);
        const auto calls = inst.calls.size();
        const auto events = inst.view.events;
        const auto log = inst.files.log;
        EXPECT_TRUE(HandleUpdateOk(runFinished, inst.Context(), kExe, kDir, inst.view));
        EXPECT_TRUE(runFinished);
        EXPECT_EQ(inst.calls.size(), calls);
        EXPECT_EQ(inst.view.events, events);
        EXPECT_EQ(inst.files.log, log);
    }
}

TEST(UpdateRun, DrivesTheRealPatcherThroughAFreshPatcherPerFile) {
    // Each script copies the old file's first unit and appends one unit of
    // its own: the new file is old[0..32) followed by 32 bytes of 'A' + row.
    Installation inst;
    MemoryPayloadStore payloads;
    for (std::size_t row = 0; row < 5; ++row) {
        inst.files.Put(kTargets[row], std::string(40, static_cast<char>('a' + row)));
        const std::vector<std::int16_t> runs = {1, -1};
        const std::vector<std::uint32_t> offsets = {0};
        const std::vector<std::uint8_t> pool(32, static_cast<std::uint8_t>('A' + row));
        payloads.Add(kIds[row], EncodeScript(32, runs, offsets, pool));
    }
    inst.host.versionOf = [&inst](const std::string& path) {
        return std::optional<std::string>(
            inst.files.At(path).content.ends_with(std::string(32, 'A')) ? "1, 0, 0, 2" : "?");
    };
    UpdateContext context{inst.files, FreshDiffPatcher(inst.files, payloads),
                          inst.hostEnvironment.get()};
    EXPECT_EQ(RunUpdate(context, kExe, kDir, inst.view), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(inst.files.At(kTargets[row]).content,
                  std::string(32, static_cast<char>('a' + row)) +
                      std::string(32, static_cast<char>('A' + row)));
    }
    EXPECT_TRUE(inst.VersionWritten());
    EXPECT_TRUE(inst.Leftovers().empty());

    // A missing payload: the patcher's 12, and everything goes back.
    Installation second;
    for (std::size_t row = 0; row < 5; ++row) second.files.Put(kTargets[row], Original(row));
    payloads.Remove(139);
    UpdateContext context2{second.files, FreshDiffPatcher(second.files, payloads),
                           second.hostEnvironment.get()};
    EXPECT_EQ(RunUpdate(context2, kExe, kDir, second.view), IDS_UPDATE_FAILED);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(second.files.At(kTargets[row]).content, Original(row));
    }
    EXPECT_TRUE(second.Leftovers().empty());
}

TEST(UpdateRun, WithSumsARebuiltFileThatIsNotTheNewFileReplacesNothing) {
    {
        Installation inst;  // every rebuilt file matches: the run completes
        UpdateContext context = inst.Context();
        context.sums = Installation::Sums();
        EXPECT_EQ(RunUpdate(context, kExe, kDir, inst.view), IDS_UPDATE_DONE);
        EXPECT_TRUE(inst.IsUpdated());
    }
    for (std::size_t row = 0; row < 5; ++row) {
        SCOPED_TRACE("row " + std::to_string(row + 1));
        // The old file changed after start-up looked at it: its patch gives
        // another file than the one the payload was made to give.
        Installation inst(true);
        inst.Rewrite(kTargets[row], Original(row) + "!");
        UpdateContext context = inst.Context();
        context.sums = Installation::Sums();
        EXPECT_EQ(RunUpdate(context, kExe, kDir, inst.view), IDS_UPDATE_FAILED);
        EXPECT_EQ(inst.calls.size(), row + 1);
        for (std::size_t other = 0; other < 5; ++other) {
            EXPECT_EQ(inst.files.At(kTargets[other]).content,
                      Original(other) + (other == row ? "!" : ""));
        }
        EXPECT_TRUE(inst.files.At(kExe).readOnly);
        EXPECT_TRUE(inst.Leftovers().empty());
        EXPECT_FALSE(inst.VersionWritten());
    }
}

}  // namespace
}  // namespace morivane
