#include "update/update_run.h"

#include <gtest/gtest.h>

#include <tuple>

#include "patch/memory_payload_store.h"
#include "patch/sabunn_script.h"
#include "tests/support/memory_file_system.h"
#include "tests/update/fake_system.h"
#include "tests/update/installation_layout.h"
#include "update/update_record.h"

namespace morivane {
namespace {

using testing::FakeSystem;
using testing::FakeVersionResource;
using testing::kDir;
using testing::kExe;
using testing::kIds;
using testing::kKey;
using testing::kOriginalTime;
using testing::kTargets;
using testing::MemoryFileSystem;
using testing::Original;

const std::string kTemp = kDir + "Clone.tmp";

// Writes what a patch of payload `id` makes of `old`, the way DiffPatcher
// reports: 10 before creating the new file, 11 when it cannot be created, and
// any other failure after creating it empty.
struct FakePatcher {
    MemoryFileSystem& files;
    std::map<int, int> failures;  // payload id -> result
    std::vector<std::tuple<std::string, std::string, int>> calls;

    static std::string NewContent(int id, const std::string& old) {
        return "patched " + std::to_string(id) + " from [" + old + "]";
    }
    int operator()(const std::string& oldPath, const std::string& newPath, int id) {
        calls.emplace_back(oldPath, newPath, id);
        auto in = files.OpenForReading(oldPath);
        if (in == nullptr || failures[id] == 10) return 10;
        std::string old(static_cast<std::size_t>(in->Length()), '\0');
        in->Read(old.data(), 1, old.size());
        auto out = files.CreateForWriting(newPath);
        if (out == nullptr) return 11;
        if (failures[id] != 0) return failures[id];
        const std::string content = NewContent(id, old);
        out->Write(content.data(), 1, content.size());
        out->Close();
        return 0;
    }
};

struct RecordingView : UpdateView {
    std::vector<std::string> events;
    std::vector<int> statuses;
    void ShowStatus(int n) override {
        statuses.push_back(n);
        events.push_back("status " + std::to_string(n));
    }
    void HideCancel() override { events.push_back("hide cancel"); }
    void BeginWaitCursor() override { events.push_back("wait begin"); }
    void EndWaitCursor() override { events.push_back("wait end"); }
};

// An installed Morivane 1.0.0.1 whose executable reports version 1.0.0.2 once
// it has been patched.
struct Installation {
    FakeSystem system;
    MemoryFileSystem files;
    FakePatcher patcher{files, {}, {}};
    RecordingView view;
    std::unique_ptr<HostEnvironment> host;

    Installation() {
        for (std::size_t row = 0; row < kTargets.size(); ++row) {
            files.Put(kTargets[row], Original(row), false, kOriginalTime);
        }
        system.PutString(kKey, "BootDirectory", kExe);
        system.versionOf = [this](const std::string& path) -> std::optional<FakeVersionResource> {
            if (!files.Has(path)) return std::nullopt;
            const bool patched = files.At(path).content.starts_with("patched 130");
            return FakeVersionResource::Japanese(patched ? "1, 0, 0, 2" : "1, 0, 0, 1");
        };
        host = std::make_unique<HostEnvironment>(system, system, system);
    }
    UpdateContext Context() {
        return {files,
                [this](const std::string& o, const std::string& n, int id) {
                    return patcher(o, n, id);
                },
                host.get()};
    }
    int Run(const std::string& bootPath = kExe, const std::string& dir = kDir) {
        return RunUpdate(Context(), bootPath, dir, view);
    }

    // Files the run made in the installation directory and left behind.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> left;
        for (const auto& [path, file] : files.Image()) {
            if (path.find("Clone") != std::string::npos) left.push_back(path);
        }
        return left;
    }
    bool VersionWritten() const { return system.Find(kKey, "Version") != nullptr; }

    // Every target holds its original content, attribute and time.
    void ExpectUntouched(std::size_t row, bool readOnly = false) const {
        ASSERT_TRUE(files.Has(kTargets[row])) << kTargets[row];
        const auto& f = files.At(kTargets[row]);
        EXPECT_EQ(f.content, Original(row)) << kTargets[row];
        EXPECT_EQ(f.readOnly, readOnly) << kTargets[row];
        EXPECT_EQ(f.time, std::optional<std::int64_t>(kOriginalTime)) << kTargets[row];
    }
    void ExpectReplaced(std::size_t row) const {
        ASSERT_TRUE(files.Has(kTargets[row])) << kTargets[row];
        const auto& f = files.At(kTargets[row]);
        EXPECT_EQ(f.content, FakePatcher::NewContent(kIds[row], Original(row)));
        EXPECT_FALSE(f.readOnly);
        EXPECT_EQ(f.time, std::optional<std::int64_t>(908463600));  // 1998-10-15 15:00:00 UTC
    }
};

TEST(UpdateRun, ReplacesTheFiveFilesInOrderAndRecordsTheNewVersion) {
    Installation inst;
    EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);

    ASSERT_EQ(inst.patcher.calls.size(), 5u);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(inst.patcher.calls[row], std::make_tuple(kTargets[row], kTemp, kIds[row]));
    }
    EXPECT_TRUE(inst.Leftovers().empty());
    const FakeSystem::Value* version = inst.system.Find(kKey, "Version");
    ASSERT_NE(version, nullptr);  // the replaced executable's version
    EXPECT_EQ(std::string(version->data.begin(), version->data.end()),
              std::string("1, 0, 0, 2\0", 11));
    EXPECT_EQ(inst.view.events, (std::vector<std::string>{"wait begin", "status 52", "hide cancel",
                                                          "status 53", "wait end"}));
    EXPECT_EQ(inst.files.OpenFiles(), 0);
    EXPECT_EQ(inst.system.OpenHandles(), 0u);
}

TEST(UpdateRun, AFailedPatchAtAnyRowPutsEveryFileBack) {
    for (std::size_t failing = 0; failing < 5; ++failing) {
        for (int code : {10, 11, 12, 13}) {
            SCOPED_TRACE("row " + std::to_string(failing + 1) + " result " + std::to_string(code));
            Installation inst;
            inst.files.Put(kExe, Original(0), true, kOriginalTime);  // attributes come back too
            inst.patcher.failures[kIds[failing]] = code;
            EXPECT_EQ(inst.Run(), code);
            EXPECT_EQ(inst.view.statuses, (std::vector<int>{IDS_UPDATING, code}));
            inst.ExpectUntouched(0, true);
            for (std::size_t row = 1; row < 5; ++row) inst.ExpectUntouched(row);
            EXPECT_TRUE(inst.Leftovers().empty());
            EXPECT_FALSE(inst.VersionWritten());
            EXPECT_EQ(inst.patcher.calls.size(), failing + 1);  // later rows never patched
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
    inst.patcher.failures[139] = 12;
    EXPECT_EQ(inst.Run(), IDS_UPDATE_FAILED);
    // The executable is the original again, so start-up would not refuse it
    // as already updated; a second run completes.
    std::string version;
    ASSERT_EQ(inst.host->GetFileVersionString(kExe, version), 1);
    EXPECT_EQ(version, "1, 0, 0, 1");
    inst.patcher.failures.clear();
    EXPECT_EQ(inst.Run(), IDS_UPDATE_DONE);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectReplaced(row);
}

TEST(UpdateRun, ReadOnlyTargetsAreReplacedAndLoseTheAttribute) {
    Installation inst;
    inst.files.Put(kExe, Original(0), true, kOriginalTime);
    inst.files.Put(kTargets[3], Original(3), true, kOriginalTime);
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
    EXPECT_EQ(inst.patcher.calls.size(), 3u);
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
    EXPECT_EQ(RecoverInterruptedUpdate(inst.files, kDir, inst.host.get()),
              RecoveryResult::kRolledBack);
    for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
    EXPECT_TRUE(inst.Leftovers().empty());
}

TEST(UpdateRun, AReplacedFileThatCannotBeRemovedDuringUndoKeepsItsOriginalAside) {
    Installation inst;
    inst.patcher.failures[140] = 13;
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
    EXPECT_EQ(RecoverInterruptedUpdate(inst.files, kDir, inst.host.get()),
              RecoveryResult::kBlocked);
    inst.files.undeletable.clear();
    EXPECT_EQ(RecoverInterruptedUpdate(inst.files, kDir, inst.host.get()),
              RecoveryResult::kRolledBack);
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
    EXPECT_EQ(inst.files.At(exe).content, FakePatcher::NewContent(130, Original(0)));
    EXPECT_EQ(std::get<0>(inst.patcher.calls[1]), kDir + "dat\\Iobjectc.til");
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
        const auto before = inst.files.Image().size();
        EXPECT_EQ(inst.Run(boot, dir), IDS_UPDATE_FAILED);
        EXPECT_EQ(inst.view.events,
                  (std::vector<std::string>{"wait begin", "status 52", "hide cancel", "status 12",
                                            "wait end"}));
        EXPECT_TRUE(inst.patcher.calls.empty());
        EXPECT_EQ(inst.files.Image().size(), before);
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
        inst.system.setFails = true;
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
        if (failing) inst.patcher.failures[137] = 12;
        bool runFinished = false;
        EXPECT_FALSE(HandleUpdateOk(runFinished, inst.Context(), kExe, kDir, inst.view));
        EXPECT_TRUE(runFinished);
        const auto calls = inst.patcher.calls.size();
        const auto events = inst.view.events;
        const auto log = inst.files.log;
        EXPECT_TRUE(HandleUpdateOk(runFinished, inst.Context(), kExe, kDir, inst.view));
        EXPECT_TRUE(runFinished);
        EXPECT_EQ(inst.patcher.calls.size(), calls);
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
    inst.system.versionOf = [&inst](const std::string& path) {
        return std::optional(FakeVersionResource::Japanese(
            inst.files.At(path).content.ends_with(std::string(32, 'A')) ? "1, 0, 0, 2" : "?"));
    };
    UpdateContext context{inst.files, FreshDiffPatcher(inst.files, payloads), inst.host.get()};
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
                           second.host.get()};
    EXPECT_EQ(RunUpdate(context2, kExe, kDir, second.view), IDS_UPDATE_FAILED);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(second.files.At(kTargets[row]).content, Original(row));
    }
    EXPECT_TRUE(second.Leftovers().empty());
}

}  // namespace
}  // namespace morivane
