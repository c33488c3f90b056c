#include "update/host_environment.h"

#include <gtest/gtest.h>

#include "tests/support/fake_host.h"
#include "update/installation.h"

namespace morivane {
namespace {

using testing::FakeHost;

const std::string kKey = "SOFTWARE\\KESTRON\\Morivane";

struct Probe {
    FakeHost system;
    HostEnvironment Make() { return HostEnvironment(system, system, system); }
};

// ------------------------------------------------------------------ probe

TEST(HostProbe, JapaneseIsTheLow10BitsOfTheSystemLanguage) {
    for (auto [language, japanese] : {std::pair<std::uint16_t, bool>{0x0411, true},
                                      {0x0011, true},
                                      {0xFC11, true},  // any sublanguage
                                      {0x0409, false},
                                      {0x0412, false},
                                      {0x0811, true}}) {
        FakeHost system;
        system.language = language;
        HostEnvironment host(system, system, system);
        EXPECT_EQ(host.IsJapaneseSystem(), japanese) << std::hex << language;
        EXPECT_EQ(host.systemLanguage, language);
    }
}

TEST(HostProbe, WindowsFamilyVersionsPassAndNtIsFlagged) {
    for (auto [major, minor] : {std::pair<std::uint32_t, std::uint32_t>{4, 0}, {4, 10}, {4, 90}}) {
        Probe p;
        p.system.SetWindows(major, minor, kPlatformWin32Windows);
        HostEnvironment host = p.Make();
        EXPECT_TRUE(host.IsVersionAtLeast(4, 0)) << major << "." << minor;
        EXPECT_EQ(host.isWindowsNT, 0);
        EXPECT_EQ(host.majorVersion, major);
        EXPECT_EQ(host.minorVersion, minor);
    }
    Probe nt;
    nt.system.SetWindows(4, 0, kPlatformWin32Nt);
    EXPECT_EQ(nt.Make().isWindowsNT, 1);
}

TEST(HostProbe, OtherPlatformIdsLeaveTheNtFlagClear) {
    Probe p;
    p.system.SetWindows(3, 10, 0);  // Win32s
    HostEnvironment host = p.Make();
    EXPECT_EQ(host.isWindowsNT, 0);
    EXPECT_FALSE(host.IsVersionAtLeast(4, 0));
}

TEST(HostProbe, MinorVersionsCountOnlyWhenTheMajorVersionsAreEqual) {
    Probe p;
    p.system.SetWindows(4, 0, kPlatformWin32Windows);
    HostEnvironment v40 = p.Make();
    EXPECT_FALSE(v40.IsVersionAtLeast(4, 10));
    EXPECT_TRUE(v40.IsVersionAtLeast(4, 0));
    EXPECT_TRUE(v40.IsVersionAtLeast(3, 95));
    EXPECT_FALSE(v40.IsVersionAtLeast(5, 0));

    p.system.SetWindows(5, 0, kPlatformWin32Windows);
    EXPECT_TRUE(p.Make().IsVersionAtLeast(4, 10));
    p.system.SetWindows(3, 10, kPlatformWin32Windows);
    EXPECT_FALSE(p.Make().IsVersionAtLeast(4, 0));
}

TEST(HostProbe, AFailedVersionQueryReportsZeroAndNotNt) {
    Probe p;
    p.system.SetWindows(4, 0, kPlatformWin32Nt);
    p.system.os = std::nullopt;
    HostEnvironment host = p.Make();
    EXPECT_EQ(host.majorVersion, 0u);
    EXPECT_EQ(host.minorVersion, 0u);
    EXPECT_EQ(host.isWindowsNT, 0);
    EXPECT_FALSE(host.IsVersionAtLeast(4, 0));
    EXPECT_TRUE(host.IsVersionAtLeast(0, 0));
}

// --------------------------------------------------------------- registry

TEST(RegistryRead, MissingKeyOrValueFailsAndKeepsTheOutput) {
    Probe p;
    HostEnvironment host = p.Make();
    std::string out = "unchanged";
    EXPECT_EQ(host.ReadBootPath("Morivane", out), 0);
    EXPECT_EQ(out, "unchanged");

    p.system.PutString(kKey, "Other", "x");
    EXPECT_EQ(host.ReadBootPath("Morivane", out), 0);
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(p.system.OpenHandles(), 0u);
    EXPECT_EQ(p.system.badCloses, 0);
}

TEST(RegistryRead, ReadsBootDirectoryUnderTheProductKeyWithReadAccess) {
    Probe p;
    p.system.PutString(kKey, "BootDirectory", "C:\\Program Files\\Morivane\\Morivane.exe");
    p.system.PutString("SOFTWARE\\KESTRON\\Other", "BootDirectory", "D:\\other.exe");
    HostEnvironment host = p.Make();
    std::string out;
    ASSERT_EQ(host.ReadBootPath("Morivane", out), 1);
    EXPECT_EQ(out, "C:\\Program Files\\Morivane\\Morivane.exe");
    ASSERT_EQ(host.ReadBootPath("Other", out), 1);
    EXPECT_EQ(out, "D:\\other.exe");
    for (std::uint32_t access : p.system.openAccess) EXPECT_EQ(access, kKeyRead);
    EXPECT_EQ(p.system.OpenHandles(), 0u);
    EXPECT_EQ(p.system.writes, 0);
}

TEST(RegistryRead, DataUpTo260BytesIsReadAndLongerFails) {
    Probe p;
    HostEnvironment host = p.Make();
    const std::string longest(259, 'a');  // 259 bytes and the NUL fill the buffer
    p.system.PutString(kKey, "BootDirectory", longest);
    std::string out;
    ASSERT_EQ(host.ReadBootPath("Morivane", out), 1);
    EXPECT_EQ(out, longest);

    p.system.PutString(kKey, "BootDirectory", std::string(260, 'b'));  // 261 with the NUL
    out = "kept";
    EXPECT_EQ(host.ReadBootPath("Morivane", out), 0);
    EXPECT_EQ(out, "kept");

    // 260 bytes with no NUL at all still fit and are taken whole.
    p.system.PutString(kKey, "BootDirectory", std::string(260, 'c'), kRegSz, false);
    ASSERT_EQ(host.ReadBootPath("Morivane", out), 1);
    EXPECT_EQ(out, std::string(260, 'c'));
    EXPECT_EQ(p.system.OpenHandles(), 0u);
}

TEST(RegistryRead, TheTypeIsNotExaminedAndTextEndsAtTheFirstNul) {
    Probe p;
    HostEnvironment host = p.Make();
    std::string out;
    p.system.PutString(kKey, "BootDirectory", "%WINDIR%\\m.exe", kRegExpandSz);
    ASSERT_EQ(host.ReadBootPath("Morivane", out), 1);
    EXPECT_EQ(out, "%WINDIR%\\m.exe");  // not expanded

    p.system.PutString(kKey, "BootDirectory", "C:\\bin.exe", kRegBinary, false);
    ASSERT_EQ(host.ReadBootPath("Morivane", out), 1);
    EXPECT_EQ(out, "C:\\bin.exe");  // no NUL: never beyond the bytes read

    p.system.PutString(kKey, "BootDirectory", std::string("C:\\a.exe\0junk", 13), kRegSz);
    ASSERT_EQ(host.ReadBootPath("Morivane", out), 1);
    EXPECT_EQ(out, "C:\\a.exe");
}

TEST(RegistryWrite, ExistingKeyGetsAnSzValueWithItsNul) {
    Probe p;
    p.system.PutString(kKey, "Version", "old");
    HostEnvironment host = p.Make();
    ASSERT_EQ(host.WriteRegistryString(kLocalMachine, kKey, "Version", "1, 0, 0, 2"), 1);
    const FakeHost::Value* v = p.system.Find(kKey, "Version");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, kRegSz);
    const std::string expected("1, 0, 0, 2\0", 11);
    EXPECT_EQ(std::string(v->data.begin(), v->data.end()), expected);
    EXPECT_TRUE(p.system.createClasses.empty());
    EXPECT_EQ(p.system.openAccess.back(), kKeyAllAccess);
    EXPECT_EQ(p.system.OpenHandles(), 0u);
}

TEST(RegistryWrite, AMissingKeyIsCreatedThenOpenedAgain) {
    Probe p;
    HostEnvironment host = p.Make();
    ASSERT_EQ(host.WriteRegistryString(kLocalMachine, kKey, "Version", "v"), 1);
    ASSERT_NE(p.system.Find(kKey, "Version"), nullptr);
    ASSERT_EQ(p.system.createClasses.size(), 1u);
    EXPECT_EQ(p.system.createClasses[0], "");
    EXPECT_EQ(p.system.createOptions[0], kRegOptionNonVolatile);
    EXPECT_EQ(p.system.createAccess[0], kKeyAllAccess);
    EXPECT_EQ(p.system.openAccess, (std::vector<std::uint32_t>{kKeyAllAccess, kKeyAllAccess}));
    EXPECT_EQ(p.system.OpenHandles(), 0u);  // the created key was closed at once
}

TEST(RegistryWrite, AKeyThatCannotBeOpenedForWritingIsCreatedOrOpenedByCreate) {
    // Open with KEY_ALL_ACCESS fails, create succeeds (the key is there), the
    // second open fails too: the write fails and every key is closed.
    Probe p;
    p.system.PutString(kKey, "BootDirectory", "x");
    p.system.denyAllAccess.insert(FakeHost::Path(kLocalMachine, kKey));
    HostEnvironment host = p.Make();
    EXPECT_EQ(host.WriteRegistryString(kLocalMachine, kKey, "Version", "v"), 0);
    EXPECT_EQ(p.system.createClasses.size(), 1u);
    EXPECT_EQ(p.system.Find(kKey, "Version"), nullptr);
    EXPECT_EQ(p.system.OpenHandles(), 0u);
}

TEST(RegistryWrite, FailuresOfCreateOpenOrSetAreReported) {
    {
        Probe p;
        p.system.createFails = true;
        HostEnvironment host = p.Make();
        EXPECT_EQ(host.CreateRegistryKey(kLocalMachine, kKey), 0);
        EXPECT_EQ(host.WriteRegistryString(kLocalMachine, kKey, "Version", "v"), 0);
        EXPECT_EQ(p.system.OpenHandles(), 0u);
    }
    {
        Probe p;
        p.system.openAfterCreateFails = true;
        HostEnvironment host = p.Make();
        EXPECT_EQ(host.WriteRegistryString(kLocalMachine, kKey, "Version", "v"), 0);
        EXPECT_EQ(p.system.OpenHandles(), 0u);
    }
    {
        Probe p;
        p.system.PutString(kKey, "Version", "old");
        p.system.setFails = true;
        HostEnvironment host = p.Make();
        EXPECT_EQ(host.WriteRegistryString(kLocalMachine, kKey, "Version", "v"), 0);
        EXPECT_EQ(p.system.OpenHandles(), 0u);
    }
}

// ----------------------------------------------------- installation directory

TEST(FindLastBackslash, SecondBytesOfDoubleByteCharactersAreNotSeparators) {
    // "C:\Games\ソ.exe": ソ is 0x83 0x5C.
    const std::string so = "C:\\Games\\\x83\x5C.exe";
    EXPECT_EQ(FindLastBackslash(so), 8u);
    // A directory named ソ: the real separator follows the character.
    const std::string dir = "C:\\\x83\x5C\\a.exe";
    EXPECT_EQ(FindLastBackslash(dir), 5u);
    // Half-width katakana (0xA1..0xDF) are single bytes.
    EXPECT_EQ(FindLastBackslash("C:\\\xB1\\x"), 4u);
    EXPECT_EQ(FindLastBackslash("noslash"), std::string::npos);
    EXPECT_EQ(FindLastBackslash(""), std::string::npos);
    EXPECT_EQ(FindLastBackslash("dir\\"), 3u);
    // A lead byte at the end stands alone.
    EXPECT_EQ(FindLastBackslash("a\\\x83"), 1u);
}

TEST(SamePath, FoldsAsciiLettersButNotTheBytesOfDoubleByteCharacters) {
    EXPECT_TRUE(SamePath("C:\\Games\\DAT\\IOBJECTC.TIL", "c:\\games\\dat\\Iobjectc.til"));
    EXPECT_FALSE(SamePath("dat\\Iobjectc.til", "dat\\Iobjecto.til"));
    EXPECT_FALSE(SamePath("Clone.tmp", "Clone.tmp "));
    // "ア" is 0x83 0x41 and "ヂ" 0x83 0x61: folding the second byte would make
    // them one name.
    EXPECT_FALSE(SamePath("\x83\x41.til", "\x83\x61.til"));
    EXPECT_TRUE(SamePath("\x83\x41.TIL", "\x83\x41.til"));
    // After a lone lead byte at the end of one name, nothing more is compared.
    EXPECT_TRUE(SamePath("A\x83", "a\x83"));
    // A half-width katakana (0xB1) is a single byte: the letters after it fold.
    EXPECT_EQ(FoldAsciiCase("MORIVANE\x83\x41\xB1.EXE"), "morivane\x83\x41\xb1.exe");
}

TEST(ReadInstallDirectory, KeepsTheTrailingBackslash) {
    Probe p;
    HostEnvironment host = p.Make();
    std::string out;
    p.system.PutString(kKey, "BootDirectory", "C:\\Morivane\\Morivane.exe");
    ASSERT_EQ(host.ReadInstallDirectory("Morivane", out), 1);
    EXPECT_EQ(out, "C:\\Morivane\\");

    p.system.PutString(kKey, "BootDirectory", "C:\\Morivane\\");
    ASSERT_EQ(host.ReadInstallDirectory("Morivane", out), 1);
    EXPECT_EQ(out, "C:\\Morivane\\");

    p.system.PutString(kKey, "BootDirectory", "C:\\Games\\\x83\x5C.exe");
    ASSERT_EQ(host.ReadInstallDirectory("Morivane", out), 1);
    EXPECT_EQ(out, "C:\\Games\\");
}

TEST(ReadInstallDirectory, NoBackslashGivesAnEmptyDirectoryAndSucceeds) {
    Probe p;
    p.system.PutString(kKey, "BootDirectory", "Morivane.exe");
    HostEnvironment host = p.Make();
    std::string out = "old";
    ASSERT_EQ(host.ReadInstallDirectory("Morivane", out), 1);
    EXPECT_EQ(out, "");
}

TEST(ReadInstallDirectory, ReadsTheRegistryAgainAndKeepsTheOutputOnFailure) {
    Probe p;
    HostEnvironment host = p.Make();
    std::string out = "old";
    EXPECT_EQ(host.ReadInstallDirectory("Morivane", out), 0);
    EXPECT_EQ(out, "old");
    p.system.PutString(kKey, "BootDirectory", "C:\\M\\m.exe");
    const int before = p.system.queries;
    ASSERT_EQ(host.ReadInstallDirectory("Morivane", out), 1);
    EXPECT_EQ(p.system.queries, before + 1);
}

// ------------------------------------------------------------ file version

TEST(FileVersion, AssignsTheTextOnlyWhenThereIsOne) {
    Probe p;
    p.system.fileVersions["C:\\m.exe"] = "1, 0, 0, 1";
    HostEnvironment host = p.Make();
    std::string out = "kept";
    EXPECT_EQ(host.GetFileVersionString("C:\\other.exe", out), 0);
    EXPECT_EQ(out, "kept");
    ASSERT_EQ(host.GetFileVersionString("C:\\m.exe", out), 1);
    EXPECT_EQ(out, "1, 0, 0, 1");
    EXPECT_EQ(p.system.versionReads, (std::vector<std::string>{"C:\\other.exe", "C:\\m.exe"}));
}

TEST(WriteVersion, RecordsTheFileVersionOfTheExecutableBootDirectoryNamesNow) {
    Probe p;
    p.system.PutString(kKey, "BootDirectory", "C:\\M\\new.exe");
    p.system.PutString(kKey, "Version", "1, 0, 0, 1");
    p.system.fileVersions["C:\\M\\new.exe"] = "1, 0, 0, 2";
    HostEnvironment host = p.Make();
    ASSERT_EQ(host.WriteVersion("Morivane"), 1);
    const FakeHost::Value* v = p.system.Find(kKey, "Version");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(v->data.begin(), v->data.end()), std::string("1, 0, 0, 2\0", 11));
    EXPECT_EQ(p.system.OpenHandles(), 0u);
}

TEST(WriteVersion, WritesNothingWhenThePathOrTheVersionCannotBeRead) {
    Probe p;
    HostEnvironment host = p.Make();
    EXPECT_EQ(host.WriteVersion("Morivane"), 0);
    p.system.PutString(kKey, "BootDirectory", "C:\\M\\m.exe");
    EXPECT_EQ(host.WriteVersion("Morivane"), 0);
    EXPECT_EQ(p.system.Find(kKey, "Version"), nullptr);
    EXPECT_EQ(p.system.writes, 0);
}

}  // namespace
}  // namespace morivane
