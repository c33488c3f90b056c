#include "update/updater_app.h"

#include <gtest/gtest.h>

#include "tests/update/fake_system.h"

namespace morivane {
namespace {

using testing::FakeSystem;
using testing::FakeVersionResource;

const std::string kKey = "SOFTWARE\\KESTRON\\Morivane";
const std::string kExe = "C:\\Program Files\\Morivane\\Morivane.exe";

// A Japanese Windows 98 with Morivane 1.0.0.1 installed and nothing running.
struct Machine {
    FakeSystem system;
    Machine() {
        system.PutString(kKey, "BootDirectory", kExe);
        system.versions[kExe] = FakeVersionResource::Japanese("1, 0, 0, 1");
    }
    // Runs start-up once; returns the message numbers of the boxes shown.
    std::vector<int> Start() {
        UpdaterApp app(system.Services());
        EXPECT_FALSE(app.InitInstance());
        std::vector<int> shown;
        for (const auto& box : system.boxes) shown.push_back(FakeSystem::NumberOf(box.text));
        return shown;
    }
    // The message of the one refusal box start-up showed; checks its form.
    int Refusal() {
        const std::vector<int> shown = Start();
        EXPECT_FALSE(shown.empty());
        if (shown.empty()) return -1;
        const auto& last = system.boxes.back();
        EXPECT_FALSE(last.caption.has_value());
        EXPECT_EQ(last.style, kMbOk | kMbIconError);
        EXPECT_TRUE(system.dialogRuns.empty());
        EXPECT_EQ(system.writes, 0);  // start-up never writes
        EXPECT_EQ(system.OpenHandles(), 0u);
        return shown.back();
    }
};

TEST(Startup, AFitMachineIsAskedToConfirmThenGetsTheDialog) {
    Machine m;
    UpdaterApp app(m.system.Services());
    EXPECT_EQ(UpdaterApp::Current(), &app);
    EXPECT_EQ(app.hostEnvironment, nullptr);
    EXPECT_FALSE(app.InitInstance());

    ASSERT_EQ(m.system.boxes.size(), 1u);
    EXPECT_EQ(FakeSystem::NumberOf(m.system.boxes[0].text), IDS_CLOSE_PROGRAMS);
    EXPECT_EQ(m.system.boxes[0].caption, std::optional<std::string>("Morivane Update 1.0a"));
    EXPECT_EQ(m.system.boxes[0].style, 0x41u);
    EXPECT_EQ(m.system.events,
              (std::vector<std::string>{"box 50", "find 54", "find 55", "dialog"}));
    ASSERT_EQ(m.system.dialogRuns.size(), 1u);
    EXPECT_EQ(m.system.dialogRuns[0].bootPath, kExe);
    EXPECT_EQ(m.system.dialogRuns[0].installDirectory, "C:\\Program Files\\Morivane\\");
    EXPECT_TRUE(m.system.dialogRuns[0].hasHostEnvironment);
    EXPECT_EQ(m.system.writes, 0);
    EXPECT_EQ(m.system.OpenHandles(), 0u);
    // BootDirectory is read twice: once for the path, once for the directory.
    EXPECT_EQ(m.system.queries, 2);
    EXPECT_NE(app.hostEnvironment, nullptr);
}

TEST(Startup, RefusesEachUnfitMachineWithItsMessage) {
    {
        Machine m;
        m.system.language = 0x0409;
        EXPECT_EQ(m.Refusal(), IDS_UNSUPPORTED_LANGUAGE);
    }
    {
        Machine m;
        m.system.SetWindows(5, 0, kPlatformWin32Nt);
        EXPECT_EQ(m.Refusal(), IDS_NT_UNSUPPORTED);
    }
    {
        Machine m;
        m.system.SetWindows(3, 95, kPlatformWin32Windows);
        EXPECT_EQ(m.Refusal(), IDS_OLD_WINDOWS);
    }
    {
        Machine m;
        m.system.versionQuerySucceeds = false;
        EXPECT_EQ(m.Refusal(), IDS_OLD_WINDOWS);
    }
    {
        Machine m;
        m.system.SetWindows(4, 0, kPlatformWin32Windows);
        EXPECT_TRUE(m.Start() == std::vector<int>{IDS_CLOSE_PROGRAMS});  // 4.0 passes
    }
}

TEST(Startup, TheMachineChecksRunLanguageThenNtThenVersion) {
    {
        Machine m;  // everything wrong: the language is reported
        m.system.language = 0x0409;
        m.system.SetWindows(3, 51, kPlatformWin32Nt);
        m.system.keys.clear();
        EXPECT_EQ(m.Refusal(), IDS_UNSUPPORTED_LANGUAGE);
        EXPECT_EQ(m.system.boxes.size(), 1u);
    }
    {
        Machine m;  // Japanese NT 3.51, not installed: NT is reported
        m.system.SetWindows(3, 51, kPlatformWin32Nt);
        m.system.keys.clear();
        EXPECT_EQ(m.Refusal(), IDS_NT_UNSUPPORTED);
    }
    {
        Machine m;  // Japanese 3.1, not installed: the version is reported
        m.system.SetWindows(3, 10, kPlatformWin32Windows);
        m.system.keys.clear();
        EXPECT_EQ(m.Refusal(), IDS_OLD_WINDOWS);
        EXPECT_EQ(m.system.queries, 0);  // the registry is not consulted
    }
}

TEST(Startup, AMissingInstallationGetsMessage4) {
    {
        Machine m;
        m.system.keys.clear();
        EXPECT_EQ(m.Refusal(), IDS_NOT_INSTALLED);
    }
    {
        Machine m;  // the key without BootDirectory
        m.system.keys[FakeSystem::Path(kLocalMachine, kKey)].erase("BootDirectory");
        EXPECT_EQ(m.Refusal(), IDS_NOT_INSTALLED);
    }
    {
        Machine m;  // a path too long for the 260-byte buffer
        m.system.PutString(kKey, "BootDirectory", std::string(300, 'x'));
        EXPECT_EQ(m.Refusal(), IDS_NOT_INSTALLED);
    }
}

TEST(Startup, AnUnreadableFileVersionGetsMessage7) {
    {
        Machine m;  // BootDirectory names a file without a version resource
        m.system.versions.clear();
        EXPECT_EQ(m.Refusal(), IDS_INSTALL_BROKEN);
    }
    {
        Machine m;  // FileVersion missing under the first translation
        FakeVersionResource r;
        r.translations = {{0x0409, 0x04E4}, {0x0411, 0x04B0}};
        r.strings["041104B0\\FileVersion"] = "1, 0, 0, 1";
        m.system.versions[kExe] = r;
        EXPECT_EQ(m.Refusal(), IDS_INSTALL_BROKEN);
    }
}

TEST(Startup, OnlyTheExactOldVersionTextPasses) {
    {
        Machine m;
        m.system.versions[kExe] = FakeVersionResource::Japanese("1, 0, 0, 2");
        EXPECT_EQ(m.Refusal(), IDS_ALREADY_UPDATED);
    }
    for (const char* other :
         {"1,0,0,1", "1.0.0.1", "1, 0, 0, 1 ", " 1, 0, 0, 1", "1, 0, 0, 3", "1, 0, 0, 2 "}) {
        Machine m;
        m.system.versions[kExe] = FakeVersionResource::Japanese(other);
        EXPECT_EQ(m.Refusal(), IDS_VERSION_NOT_SUPPORTED) << '"' << other << '"';
    }
    EXPECT_EQ(ClassifyFileVersion("1, 0, 0, 1"), 0);
    EXPECT_EQ(ClassifyFileVersion("1, 0, 0, 2"), IDS_ALREADY_UPDATED);
    EXPECT_EQ(ClassifyFileVersion("1, 0, 0, 1\n"), IDS_VERSION_NOT_SUPPORTED);
}

TEST(Startup, CancellingTheConfirmationEndsSilently) {
    for (int answer : {kIdCancel, 0 /* closed */}) {
        Machine m;
        m.system.confirmationAnswer = answer;
        m.system.windows.insert(m.system.LoadText(IDS_PRODUCT_WINDOW_TITLE));
        EXPECT_EQ(m.Start(), std::vector<int>{IDS_CLOSE_PROGRAMS});
        EXPECT_EQ(m.system.events, std::vector<std::string>{"box 50"});
        EXPECT_TRUE(m.system.dialogRuns.empty());
        EXPECT_EQ(m.system.writes, 0);
    }
}

TEST(Startup, TheGuardsComeAfterTheConfirmationProductFirst) {
    {
        Machine m;
        m.system.windows.insert(m.system.LoadText(IDS_PRODUCT_WINDOW_TITLE));
        m.system.windows.insert(m.system.LoadText(IDS_UPDATER_TITLE));
        EXPECT_EQ(m.Refusal(), IDS_PRODUCT_RUNNING);
        EXPECT_EQ(m.system.events, (std::vector<std::string>{"box 50", "find 54", "box 14"}));
    }
    {
        Machine m;
        m.system.windows.insert(m.system.LoadText(IDS_UPDATER_TITLE));
        EXPECT_EQ(m.Refusal(), IDS_UPDATER_RUNNING);
        EXPECT_EQ(m.system.events,
                  (std::vector<std::string>{"box 50", "find 54", "find 55", "box 15"}));
    }
    {
        Machine m;  // a title that merely resembles the product's is no match
        m.system.windows.insert("Morivane");
        m.Start();
        EXPECT_EQ(m.system.dialogRuns.size(), 1u);
    }
}

TEST(Startup, TheHostEnvironmentLivesWithTheApplicationObject) {
    Machine m;
    m.system.language = 0x0409;
    auto app = std::make_unique<UpdaterApp>(m.system.Services());
    app->InitInstance();
    ASSERT_NE(app->hostEnvironment, nullptr);
    EXPECT_EQ(app->hostEnvironment->systemLanguage, 0x0409);
    app.reset();
    EXPECT_EQ(UpdaterApp::Current(), nullptr);
}

TEST(Application, TheWaitCursorCountRestoresTheCursorAtZero) {
    FakeSystem system;
    UpdaterApp app(system.Services());
    app.EndWaitCursor();  // nothing to end
    EXPECT_EQ(app.waitCursorCount(), 0);
    EXPECT_TRUE(system.restoredCursors.empty());

    app.BeginWaitCursor();
    app.BeginWaitCursor();
    EXPECT_EQ(system.waitCursorsSet, 1);
    app.EndWaitCursor();
    EXPECT_TRUE(system.restoredCursors.empty());
    app.EndWaitCursor();
    EXPECT_EQ(system.restoredCursors, std::vector<std::uintptr_t>{FakeSystem::kArrowCursor});
    EXPECT_EQ(app.waitCursorCount(), 0);
}

}  // namespace
}  // namespace morivane
