// The native stand-ins that `sabunn update` gives the update run: version
// resources and payloads read from PE files, and Windows-style paths over a
// case-sensitive directory.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/absent_host.h"
#include "platform/pe_payload_store.h"
#include "platform/pe_version_file.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/windows_path_file_system.h"
#include "tests/support/update_test_support.h"
#include "update/host_environment.h"

namespace morivane::updatetest {
namespace {

class VersionFromFile : public ::testing::Test {
  protected:
    // The FileVersion text as start-up reads it, or "<none>".
    std::string FileVersionOf(const fs::path& path) {
        std::string out = "<none>";
        host_.GetFileVersionString(path.string(), out);
        return out;
    }

    PosixFileSystem files_;
    PeVersionFile versions_{files_};
    AbsentOsInfo os_;
    MemoryRegistry registry_;
    HostEnvironment host_{os_, registry_, versions_};
    TempDir tmp_;
};

TEST_F(VersionFromFile, ReadsTheDemoExecutablesAndTheUpdater) {
    if (!DemoBuilt()) GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
    EXPECT_EQ(FileVersionOf(kDemoDir / "old/Morivane.exe"), "1, 0, 0, 1");
    EXPECT_EQ(FileVersionOf(kDemoDir / "new/Morivane.exe"), "1, 0, 0, 2");
    // A data file is no module at all.
    EXPECT_EQ(FileVersionOf(kDemoDir / "old/dat/Iobjectc.til"), "<none>");
    EXPECT_EQ(FileVersionOf(tmp_.path() / "absent.exe"), "<none>");

    if (!fs::exists(kUpdaterExe)) GTEST_SKIP() << "no MorivaneUpdate.exe at " << kUpdaterExe;
    EXPECT_EQ(FileVersionOf(kUpdaterExe), "1.0a");
}

TEST_F(VersionFromFile, CorruptedCopiesHaveNoVersion) {
    if (!DemoBuilt()) GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
    const std::string good = Slurp(kDemoDir / "old/Morivane.exe");
    const std::size_t key = good.find(std::string("F\0i\0l\0e\0V\0e\0r\0s\0i\0o\0n\0", 22));
    ASSERT_NE(key, std::string::npos);
    const std::size_t lfanew = LoadLe32(reinterpret_cast<const std::uint8_t*>(good.data()) + 0x3C);
    struct Copy {
        const char* name;
        std::size_t at;     // byte to change, or npos to cut the file there
        std::size_t cutAt;  // length to cut to, or npos
    };
    const Copy copies[] = {
        {"NoMz", 0, std::string::npos},
        {"NoPeSignature", lfanew, std::string::npos},
        {"KeyRenamed", key + 2, std::string::npos},
        {"CutShort", std::string::npos, good.size() / 2},
        {"HeadersOnly", std::string::npos, 1024},
    };
    for (const Copy& c : copies) {
        SCOPED_TRACE(c.name);
        std::string bad = good;
        if (c.at != std::string::npos) bad[c.at] ^= 0x01;
        if (c.cutAt != std::string::npos) bad.resize(c.cutAt);
        const fs::path path = tmp_.path() / c.name;
        Spit(path, bad);
        EXPECT_EQ(FileVersionOf(path), "<none>");
    }
}

TEST(PePayloads, TheUpdaterCarriesWhatItWasBuiltWith) {
    if (!fs::exists(kUpdaterExe)) GTEST_SKIP() << "no MorivaneUpdate.exe at " << kUpdaterExe;
    const std::string bytes = Slurp(kUpdaterExe);
    PePayloadStore store(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_EQ(store.Status(), PeStatus::Ok);
    // The Win32 build stages the files it embeds beside the executable.
    for (int id : kPayloadIds) {
        SCOPED_TRACE(id);
        const auto payload = store.Find(id);
        ASSERT_TRUE(payload.has_value());
        const std::string staged =
            Slurp(kUpdaterExe.parent_path() / "payloads" / (std::to_string(id) + ".sabunn"));
        EXPECT_EQ(std::string(payload->begin(), payload->end()), staged);
        const auto high = store.Find(id + 0x10000);  // only the low 16 bits count
        ASSERT_TRUE(high.has_value());
        EXPECT_EQ(high->data(), payload->data());
    }
    EXPECT_FALSE(store.Find(131).has_value());
    EXPECT_FALSE(store.Find(128).has_value());  // the icon's id, another type

    std::vector<std::uint8_t> damaged(bytes.begin(), bytes.end());
    damaged[1] = 'X';  // "MX"
    PePayloadStore broken(std::move(damaged));
    EXPECT_EQ(broken.Status(), PeStatus::NotMz);
    EXPECT_FALSE(broken.Find(130).has_value());
}

TEST(PePayloads, TheProductCarriesNone) {
    if (!DemoBuilt()) GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
    const std::string bytes = Slurp(kDemoDir / "old/Morivane.exe");
    PePayloadStore store(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(store.Status(), PeStatus::Ok);
    EXPECT_FALSE(store.Find(130).has_value());
}

class WindowsPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path().empty());
        root_ = tmp_.path().string();
        fs::create_directories(tmp_.path() / "DAT");
        Spit(tmp_.path() / "DAT/IOBJECTC.TIL", "old c");
        Spit(tmp_.path() / "Morivane.exe", "exe");
    }
    std::string V(const std::string& windowsPath) { return files_.VirtualPrefix() + windowsPath; }
    std::string Read(const std::string& windowsPath) {
        auto in = files_.OpenForReading(V(windowsPath));
        if (in == nullptr) return "<cannot open>";
        std::string s(static_cast<std::size_t>(in->Length()), '\0');
        in->Read(s.data(), s.size(), 1);
        return s;
    }
    bool Write(const std::string& windowsPath, const std::string& text) {
        auto out = files_.CreateForWriting(V(windowsPath));
        return out != nullptr && out->Write(text.data(), text.size(), 1) == 1 && out->Close();
    }

    TempDir tmp_;
    std::string root_;
    PosixFileSystem posix_;
    WindowsPathFileSystem files_{posix_, tmp_.path().string() + "//"};
};

TEST_F(WindowsPaths, FindsEntriesInAnyCaseAndCreatesNewOnesAsNamed) {
    EXPECT_EQ(files_.VirtualPrefix(), "<install-dir>\\");
    EXPECT_EQ(files_.RealPath(V("dat\\Iobjectc.til")), root_ + "/DAT/IOBJECTC.TIL");
    EXPECT_EQ(Read("dat\\Iobjectc.til"), "old c");
    EXPECT_EQ(Read("MORIVANE.exe"), "exe");
    EXPECT_TRUE(files_.Exists(V("dat")));
    EXPECT_FALSE(files_.Exists(V("dat\\Iobjecto.til")));

    // New names keep the case they were given, inside the directory found.
    ASSERT_TRUE(Write("Clone.tmp", "new c"));
    EXPECT_TRUE(fs::exists(tmp_.path() / "Clone.tmp"));
    // ... and are found again under any case, as Windows would.
    EXPECT_EQ(Read("CLONE.TMP"), "new c");
    ASSERT_TRUE(Write("dat\\Extra.bin", "e"));
    EXPECT_TRUE(fs::exists(tmp_.path() / "DAT/Extra.bin"));

    // Paths outside the installation name nothing the run can reach.
    Spit(tmp_.path() / "outside", "x");
    EXPECT_EQ(files_.OpenForReading((tmp_.path() / "outside").string()), nullptr);
    EXPECT_FALSE(files_.Exists((tmp_.path() / "outside").string()));
    EXPECT_FALSE(files_.Delete((tmp_.path() / "outside").string()));
    EXPECT_TRUE(fs::exists(tmp_.path() / "outside"));
    EXPECT_EQ(files_.RealPath(V("")), root_);
}

TEST_F(WindowsPaths, AFileMovedAwayComesBackUnderItsOwnName) {
    // The run's replacement: the original aside, the new file into its place.
    ASSERT_TRUE(Write("Clone.tmp", "new c"));
    ASSERT_TRUE(files_.Move(V("dat\\Iobjectc.til"), V("Clone1.bak")));
    EXPECT_FALSE(fs::exists(tmp_.path() / "DAT/IOBJECTC.TIL"));
    ASSERT_TRUE(files_.Move(V("Clone.tmp"), V("dat\\Iobjectc.til")));
    EXPECT_EQ(Slurp(tmp_.path() / "DAT/IOBJECTC.TIL"), "new c");
    EXPECT_FALSE(fs::exists(tmp_.path() / "DAT/Iobjectc.til"));

    // Undone the same way.
    ASSERT_TRUE(files_.Delete(V("dat\\Iobjectc.til")));
    ASSERT_TRUE(files_.Move(V("Clone1.bak"), V("dat\\Iobjectc.til")));
    EXPECT_EQ(Slurp(tmp_.path() / "DAT/IOBJECTC.TIL"), "old c");

    // A move never replaces what is there, whatever its case.
    ASSERT_TRUE(Write("clone2.BAK", "x"));
    EXPECT_FALSE(files_.Move(V("Morivane.exe"), V("Clone2.bak")));
    EXPECT_EQ(Read("Morivane.exe"), "exe");
}

TEST_F(WindowsPaths, PrefersTheExactNameAndRefusesToGuess) {
    Spit(tmp_.path() / "DAT/Iobjectc.til", "exact");
    EXPECT_EQ(Read("dat\\Iobjectc.til"), "exact");
    // Neither "IOBJECTC.TIL" nor "Iobjectc.til" is the exact name asked for:
    // two candidates, so neither is taken.
    EXPECT_EQ(Read("dat\\iobjectc.til"), "<cannot open>");
    EXPECT_EQ(files_.RealPath(V("dat\\iobjectc.til")), root_ + "/DAT/iobjectc.til");
}

// Names the run forms inside the installation follow code page 932: a
// double-byte character whose second byte is 0x5C ("ソ") is no separator, and
// one whose second byte is an ASCII letter ("ア" 83 41, "ヂ" 83 61) is never
// matched by case.
TEST_F(WindowsPaths, DoubleByteNamesAreTakenWhole) {
    const std::string so = "\x83\x5C";  // ソ
    fs::create_directories(tmp_.path() / so);
    Spit(tmp_.path() / so / "a.til", "so");
    EXPECT_EQ(files_.RealPath(V(so + "\\a.til")), root_ + "/" + so + "/a.til");
    EXPECT_EQ(Read(so + "\\a.til"), "so");

    Spit(tmp_.path() / "\x83\x41.til", "a");  // ア
    EXPECT_EQ(Read("\x83\x41.til"), "a");
    EXPECT_EQ(Read("\x83\x61.til"), "<cannot open>");  // ヂ is another name
}

}  // namespace
}  // namespace morivane::updatetest
