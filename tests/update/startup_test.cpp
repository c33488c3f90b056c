// The start-up sequence over fake host services, an in-memory installation
// and a front end that records what it is asked to show.
#include "update/startup.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <tuple>

#include "patch/payload_sums.h"
#include "platform/memory_payload_store.h"
#include "tests/support/fake_frontend.h"
#include "tests/support/test_installation.h"

namespace morivane {
namespace {

using testing::DiskImage;
using testing::FakeFrontend;
using testing::FakeHost;
using testing::kDir;
using testing::kExe;
using testing::kIds;
using testing::kKey;
using testing::kRecord;
using testing::kTargets;
using testing::NewContent;
using testing::Original;
using Events = std::vector<std::string>;

// A Japanese Windows 98 with Morivane 1.0.0.1 installed and nothing running.
struct Machine {
    testing::TestInstallation inst;
    MemoryPayloadStore payloads;
    FakeFrontend frontend;
    StartupState state;

    FakeHost& host() { return inst.host; }

    StartupResult Start() {
        frontend.events.clear();
        return RunStartup({inst.host, inst.host, inst.host, inst.files, payloads}, frontend, state);
    }
    // The one refusal start-up showed; checks that it was the only thing shown
    // and that nothing was written.
    int Refusal() {
        const StartupResult result = Start();
        EXPECT_EQ(result.end, StartupEnd::kRefused);
        const std::vector<int> refusals = frontend.Refusals();
        EXPECT_EQ(refusals.size(), 1u);
        EXPECT_TRUE(frontend.dialogRuns.empty());
        EXPECT_EQ(host().writes, 0);  // start-up never writes
        EXPECT_EQ(host().OpenHandles(), 0u);
        EXPECT_EQ(refusals.empty() ? -1 : refusals.back(), result.refusal);
        return result.refusal;
    }
    void GiveSums(const UpdateSums& sums) {
        for (std::size_t row = 0; row < sums.size(); ++row) {
            payloads.AddSums(kIds[row], EncodePayloadSums(sums[row]));
        }
    }
    // The installation as a crash left it at the first instant at which
    // `when` holds during a run.
    void CrashWhen(const std::function<bool(const testing::TestInstallation&)>& when) {
        const DiskImage crashed = testing::TestInstallation::FilesAtFirst(when);
        ASSERT_FALSE(crashed.empty());
        inst.files.Load(crashed);
    }
};

TEST(Startup, AFitMachineIsAskedToConfirmThenGetsTheDialog) {
    Machine m;
    EXPECT_EQ(m.Start().end, StartupEnd::kDialogShown);
    EXPECT_EQ(m.frontend.events, (Events{"confirm", "find 54", "find 55", "dialog"}));
    ASSERT_EQ(m.frontend.dialogRuns.size(), 1u);
    EXPECT_EQ(m.frontend.dialogRuns[0].bootPath, kExe);
    EXPECT_EQ(m.frontend.dialogRuns[0].installDirectory, kDir);
    EXPECT_TRUE(m.frontend.dialogRuns[0].hasHost);
    EXPECT_EQ(m.host().writes, 0);
    EXPECT_EQ(m.host().OpenHandles(), 0u);
    // BootDirectory is read twice: once for the path, once for the directory.
    EXPECT_EQ(m.host().queries, 2);
    EXPECT_EQ(m.state.bootPath, kExe);
    EXPECT_EQ(m.state.installDirectory, kDir);
    ASSERT_NE(m.state.hostEnvironment, nullptr);
    EXPECT_TRUE(m.inst.IsOriginal());
}

TEST(Startup, RefusesEachUnfitMachineWithItsMessage) {
    const std::vector<std::pair<std::function<void(FakeHost&)>, int>> cases = {
        {[](FakeHost& h) { h.language = 0x0409; }, IDS_UNSUPPORTED_LANGUAGE},
        {[](FakeHost& h) { h.SetWindows(5, 0, kPlatformWin32Nt); }, IDS_NT_UNSUPPORTED},
        {[](FakeHost& h) { h.SetWindows(3, 95, kPlatformWin32Windows); }, IDS_OLD_WINDOWS},
        {[](FakeHost& h) { h.os = std::nullopt; }, IDS_OLD_WINDOWS},
        // Everything wrong: the language is reported first, then NT, then
        // the version; the registry is not consulted.
        {[](FakeHost& h) {
             h.language = 0x0409;
             h.SetWindows(3, 51, kPlatformWin32Nt);
             h.keys.clear();
         },
         IDS_UNSUPPORTED_LANGUAGE},
        {[](FakeHost& h) {
             h.SetWindows(3, 51, kPlatformWin32Nt);
             h.keys.clear();
         },
         IDS_NT_UNSUPPORTED},
        {[](FakeHost& h) {
             h.SetWindows(3, 10, kPlatformWin32Windows);
             h.keys.clear();
         },
         IDS_OLD_WINDOWS},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        Machine m;
        cases[i].first(m.host());
        EXPECT_EQ(m.Refusal(), cases[i].second);
        EXPECT_EQ(m.host().queries, 0);
    }
    Machine win95;
    win95.host().SetWindows(4, 0, kPlatformWin32Windows);  // 4.0 passes
    EXPECT_EQ(win95.Start().end, StartupEnd::kDialogShown);
}

TEST(Startup, AMissingInstallationGetsMessage4) {
    {
        Machine m;
        m.host().keys.clear();
        EXPECT_EQ(m.Refusal(), IDS_NOT_INSTALLED);
    }
    {
        Machine m;  // the key without BootDirectory
        m.host().keys[FakeHost::Path(kLocalMachine, kKey)].erase("BootDirectory");
        EXPECT_EQ(m.Refusal(), IDS_NOT_INSTALLED);
    }
    {
        Machine m;  // a path too long for the 260-byte buffer
        m.host().PutString(kKey, "BootDirectory", std::string(300, 'x'));
        EXPECT_EQ(m.Refusal(), IDS_NOT_INSTALLED);
    }
}

TEST(Startup, TheFileVersionDecides) {
    {
        Machine m;  // no readable FileVersion
        m.host().versionOf = [](const std::string&) { return std::nullopt; };
        EXPECT_EQ(m.Refusal(), IDS_INSTALL_BROKEN);
        EXPECT_EQ(m.host().versionReads, std::vector<std::string>{kExe});
    }
    {
        Machine m;
        m.host().versionOf = [](const std::string&) { return "1, 0, 0, 2"; };
        EXPECT_EQ(m.Refusal(), IDS_ALREADY_UPDATED);
    }
    for (const char* other :
         {"1,0,0,1", "1.0.0.1", "1, 0, 0, 1 ", " 1, 0, 0, 1", "1, 0, 0, 3", "1, 0, 0, 2 "}) {
        Machine m;
        m.host().versionOf = [other](const std::string&) { return other; };
        EXPECT_EQ(m.Refusal(), IDS_VERSION_NOT_SUPPORTED) << '"' << other << '"';
    }
    EXPECT_EQ(ClassifyFileVersion("1, 0, 0, 1"), 0);
    EXPECT_EQ(ClassifyFileVersion("1, 0, 0, 2"), IDS_ALREADY_UPDATED);
    EXPECT_EQ(ClassifyFileVersion("1, 0, 0, 1\n"), IDS_VERSION_NOT_SUPPORTED);
}

TEST(Startup, CancellingTheConfirmationEndsSilently) {
    Machine m;
    m.frontend.confirm = false;
    m.frontend.openWindows = {IDS_PRODUCT_WINDOW_TITLE};
    EXPECT_EQ(m.Start().end, StartupEnd::kCancelled);
    EXPECT_EQ(m.frontend.events, Events{"confirm"});
    EXPECT_EQ(m.host().writes, 0);
}

TEST(Startup, TheGuardsComeAfterTheConfirmationProductFirst) {
    {
        Machine m;
        m.frontend.openWindows = {IDS_PRODUCT_WINDOW_TITLE, IDS_UPDATER_TITLE};
        EXPECT_EQ(m.Refusal(), IDS_PRODUCT_RUNNING);
        EXPECT_EQ(m.frontend.events, (Events{"confirm", "find 54", "refuse 14"}));
    }
    {
        Machine m;
        m.frontend.openWindows = {IDS_UPDATER_TITLE};
        EXPECT_EQ(m.Refusal(), IDS_UPDATER_RUNNING);
        EXPECT_EQ(m.frontend.events, (Events{"confirm", "find 54", "find 55", "refuse 15"}));
    }
}

TEST(Startup, TheMachineChecksCanBeLeftToAFrontEndThatIsNotOnWindows) {
    Machine m;
    m.host().os = std::nullopt;
    m.host().language = 0;
    StartupServices services{m.inst.host, m.inst.host, m.inst.host, m.inst.files, m.payloads};
    services.checkMachine = false;
    EXPECT_EQ(RunStartup(services, m.frontend, m.state).end, StartupEnd::kDialogShown);
}

// Interrupted runs are put in order before the version check.

TEST(Startup, AnInterruptedRunIsUndoneBeforeTheVersionCheck) {
    // The executable is aside: without recovery the check could not read a
    // FileVersion and would refuse with 7.
    Machine m;
    m.CrashWhen([](const testing::TestInstallation& i) { return !i.files.Has(kExe); });
    EXPECT_EQ(m.Start().end, StartupEnd::kDialogShown);
    EXPECT_EQ(m.frontend.recoveries, std::vector<RecoveryResult>{RecoveryResult::kRolledBack});
    EXPECT_TRUE(m.inst.IsOriginal());
}

TEST(Startup, ARunInterruptedAfterItsCommitIsFinishedAndFoundUpdated) {
    Machine m;
    m.CrashWhen([](const testing::TestInstallation& i) {
        return !i.files.log.empty() && i.files.log.back() == "delete " + kDir + "Clone1.bak";
    });
    EXPECT_EQ(m.Start().refusal, IDS_ALREADY_UPDATED);
    EXPECT_TRUE(m.inst.IsUpdated());
    EXPECT_TRUE(m.inst.VersionWritten());
}

// A crash point: the first row's new file has replaced the executable.
bool TheNewExecutableIsInPlace(const testing::TestInstallation& i) {
    return i.files.Has(kExe) && i.files.At(kExe).content == NewContent(0);
}

TEST(Startup, AnInstallationThatCannotBePutBackGetsMessage7AndKeepsTheRecord) {
    Machine m;
    m.CrashWhen(TheNewExecutableIsInPlace);
    m.inst.files.undeletable.insert(kExe);
    EXPECT_EQ(m.Start().refusal, IDS_INSTALL_BROKEN);
    EXPECT_EQ(m.frontend.events, (Events{"find 54", "find 55", "refuse 7"}));
    EXPECT_TRUE(m.inst.files.Has(kRecord));
    // The next start, with the file free again, goes on as usual.
    m.inst.files.undeletable.clear();
    EXPECT_EQ(m.Start().end, StartupEnd::kDialogShown);
    EXPECT_TRUE(m.inst.IsOriginal());
}

TEST(Startup, ARunningProductThatHoldsTheFilesIsReportedAfterTheConfirmation) {
    // The product runs the new executable of an interrupted run, which
    // therefore cannot be put back: the user hears of the product, not of a
    // broken installation.
    Machine m;
    m.CrashWhen(TheNewExecutableIsInPlace);
    m.inst.files.undeletable.insert(kExe);
    m.frontend.openWindows = {IDS_PRODUCT_WINDOW_TITLE};
    EXPECT_EQ(m.Refusal(), IDS_PRODUCT_RUNNING);
    EXPECT_EQ(m.frontend.events, (Events{"find 54", "confirm", "find 54", "refuse 14"}));
    EXPECT_TRUE(m.inst.files.Has(kRecord));
}

TEST(Startup, AnotherUpdatersLiveRunIsLeftAloneAndReportedAfterTheConfirmation) {
    for (bool windowShown : {true, false}) {
        SCOPED_TRACE(windowShown ? "its dialog is open" : "no window shows it");
        Machine m;
        m.CrashWhen([](const testing::TestInstallation& i) { return !i.files.Has(kExe); });
        m.inst.files.heldElsewhere.insert(kRecord);
        if (windowShown) m.frontend.openWindows = {IDS_UPDATER_TITLE};
        const DiskImage files = m.inst.files.Image();
        EXPECT_EQ(m.Refusal(), IDS_UPDATER_RUNNING);
        EXPECT_EQ(m.frontend.events, (Events{"confirm", "find 54", "find 55", "refuse 15"}));
        EXPECT_EQ(m.inst.files.Image(), files);
        EXPECT_TRUE(m.host().versionReads.empty());  // its files are not looked at
    }
}

// The sums stored beside the payloads.

TEST(Startup, TheFilesAreCheckedAgainstTheSumsOnlyAfterTheGuards) {
    const Events afterTheGuards = {"confirm", "find 54", "find 55", "refuse 7"};
    for (std::size_t row = 0; row < 5; ++row) {
        SCOPED_TRACE("row " + std::to_string(row + 1));
        Machine changed;
        changed.GiveSums(testing::TestInstallation::Sums());
        std::string content = changed.inst.files.At(kTargets[row]).content;
        content[0] = static_cast<char>(content[0] ^ 1);
        changed.inst.Rewrite(kTargets[row], content);
        EXPECT_EQ(changed.Refusal(), IDS_INSTALL_BROKEN);
        EXPECT_EQ(changed.frontend.events, afterTheGuards);

        if (row == 0) continue;  // without the executable the version check refuses
        Machine missing;
        missing.GiveSums(testing::TestInstallation::Sums());
        DiskImage files = missing.inst.files.Image();
        files.erase(kTargets[row]);
        missing.inst.files.Load(files);
        EXPECT_EQ(missing.Refusal(), IDS_INSTALL_BROKEN);
        EXPECT_EQ(missing.frontend.events, afterTheGuards);
    }
    Machine whole;
    whole.GiveSums(testing::TestInstallation::Sums());
    EXPECT_EQ(whole.Start().end, StartupEnd::kDialogShown);
    EXPECT_EQ(whole.frontend.dialogRuns[0].sums, 5u);  // the run checks what it rebuilds

    Machine without;  // no sums: the files are not read at all
    without.inst.Rewrite(kTargets[2], "changed");
    EXPECT_EQ(without.Start().end, StartupEnd::kDialogShown);
    EXPECT_EQ(without.frontend.dialogRuns[0].sums, 0u);
    EXPECT_EQ(without.inst.files.looks, std::vector<std::string>{kRecord});  // is a run's left?
}

TEST(Startup, AFileHeldByARunningProductOrUpdaterIsReportedAsRunning) {
    // The program that holds a data file so that it cannot be read is told
    // by its window, after the confirmation, as it would be without sums;
    // held by something without such a window, the file cannot be vouched
    // for and is refused with 7 once the guards found nothing.
    const std::vector<std::tuple<std::set<int>, int, Events>> cases = {
        {{IDS_PRODUCT_WINDOW_TITLE}, IDS_PRODUCT_RUNNING, {"confirm", "find 54", "refuse 14"}},
        {{IDS_UPDATER_TITLE}, IDS_UPDATER_RUNNING, {"confirm", "find 54", "find 55", "refuse 15"}},
        {{}, IDS_INSTALL_BROKEN, {"confirm", "find 54", "find 55", "refuse 7"}},
    };
    for (const auto& [windows, refusal, events] : cases) {
        SCOPED_TRACE("refusal " + std::to_string(refusal));
        Machine m;
        m.GiveSums(testing::TestInstallation::Sums());
        m.inst.files.unreadable.insert(kTargets[3]);
        m.frontend.openWindows = windows;
        EXPECT_EQ(m.Refusal(), refusal);
        EXPECT_EQ(m.frontend.events, events);
    }
}

TEST(Startup, AnEmptyInstallationDirectoryReadsNothingAndTheRunRefusesWith12) {
    // BootDirectory holds no backslash: its directory part is empty. The
    // executable's version is read as the path stands, but no file of the
    // installation is read through names relative to the current folder:
    // here those names would find a changed executable and no data files.
    Machine m;
    m.GiveSums(testing::TestInstallation::Sums());
    m.host().PutString(kKey, "BootDirectory", "Morivane.exe");
    m.inst.files.Put("Morivane.exe", "not the old executable");
    m.inst.files.Put(kRecord.substr(kDir.size()), "a record under a relative name");
    const DiskImage before = m.inst.files.Image();
    m.frontend.pressOk = true;
    EXPECT_EQ(m.Start().end, StartupEnd::kDialogShown);
    EXPECT_EQ(m.frontend.events, (Events{"confirm", "find 54", "find 55", "dialog"}));
    EXPECT_EQ(m.state.installDirectory, "");
    EXPECT_EQ(m.host().versionReads, std::vector<std::string>{"Morivane.exe"});
    EXPECT_EQ(m.frontend.statuses, (std::vector<int>{IDS_UPDATING, IDS_UPDATE_FAILED}));
    EXPECT_TRUE(m.inst.files.looks.empty()) << m.inst.files.looks.front();
    EXPECT_TRUE(m.inst.files.log.empty());
    EXPECT_EQ(m.inst.files.Image(), before);
    EXPECT_EQ(m.host().writes, 0);
}

TEST(Startup, DamagedOrIncompleteSumsAreRefusedWith12AfterTheGuards) {
    const Events afterTheGuards = {"confirm", "find 54", "find 55", "refuse 12"};
    {
        Machine m;
        m.GiveSums(testing::TestInstallation::Sums());
        m.payloads.AddSums(138, std::vector<std::uint8_t>{1, 2, 3});
        EXPECT_EQ(m.Refusal(), IDS_UPDATE_FAILED);
        EXPECT_EQ(m.frontend.events, afterTheGuards);
    }
    {
        Machine m;
        UpdateSums four = testing::TestInstallation::Sums();
        four.pop_back();
        m.GiveSums(four);
        EXPECT_EQ(m.Refusal(), IDS_UPDATE_FAILED);
        EXPECT_EQ(m.frontend.events, afterTheGuards);
    }
    Machine running;  // a running product comes first
    running.payloads.AddSums(138, std::vector<std::uint8_t>{1, 2, 3});
    running.frontend.openWindows = {IDS_PRODUCT_WINDOW_TITLE};
    EXPECT_EQ(running.Refusal(), IDS_PRODUCT_RUNNING);
}

TEST(Startup, AForeignRecordStandsAsideWhenTheSumsShowTheInstallationWhole) {
    Machine m;
    m.GiveSums(testing::TestInstallation::Sums());
    m.inst.files.Put(kRecord, "written by something else entirely");
    EXPECT_EQ(m.Start().end, StartupEnd::kDialogShown);
    EXPECT_EQ(m.frontend.recoveries, std::vector<RecoveryResult>{RecoveryResult::kSetAside});
    EXPECT_TRUE(m.inst.files.Has(kDir + "Clone1.rec"));
    for (std::size_t row = 0; row < 5; ++row) m.inst.ExpectUntouched(row);
}

}  // namespace
}  // namespace morivane
