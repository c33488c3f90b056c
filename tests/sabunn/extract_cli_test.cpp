// `sabunn extract` run on real and built modules.
#include <set>

#include "tests/support/pe_test_support.h"
#include "tests/support/run_support.h"

namespace morivane {
namespace {

using namespace petest;
namespace fs = std::filesystem;

class Extract : public TempDirTest {
  protected:
    RunResult Sabunn(const std::string& args) const { return Run("'" SABUNN_PATH "' " + args); }
    std::set<std::string> Files(const fs::path& dir) const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
        return names;
    }
    void WriteFile(const fs::path& path, const Bytes& data) const {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
};

#ifdef PE_FIXTURE_PATH
TEST_F(Extract, WritesEachPayloadOfTheModule) {
    const fs::path out = dir_ / "payloads" / "nested";  // created as needed
    const RunResult r = Sabunn("extract '" PE_FIXTURE_PATH "' -d '" + out.string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    // fixture.rc: 130 has "HF" at bytes 8 and 9; 137 exists in two languages,
    // the first in the directory (0x0409) being what a lookup finds.
    EXPECT_EQ(r.out, "130 HF 31\n137 plain 11\n138 plain 16\n");
    EXPECT_EQ(Files(out), (std::set<std::string>{"130.sabunn", "137.sabunn", "138.sabunn"}));
    EXPECT_EQ(ReadText(out / "130.sabunn"), "payload!HF container one-thirty");
    EXPECT_EQ(ReadText(out / "137.sabunn"), "english 137");
    EXPECT_EQ(ReadText(out / "138.sabunn"), "plain script 138");
    // What the updater could never load is named on stderr.
    EXPECT_NE(r.err.find("LOGO"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0x0411"), std::string::npos) << r.err;

    // Running again replaces the files with the same content.
    const RunResult again = Sabunn("extract '" PE_FIXTURE_PATH "' -d '" + out.string() + "'");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(Files(out).size(), 3u);
}
#endif

// A module's resource names are the publisher's only when the module is:
// what extract prints of them is escaped, so that no name can drive the
// terminal (escape sequences, a C1 CSI) or disguise itself (a right-to-left
// override), and the escapes stay unambiguous (a backslash is doubled).
TEST_F(Extract, EscapesResourceNamesItPrints) {
    const std::u16string hostile = u"\x1b]0;owned\x07\x1b[2J\\x\u202Eexe.txt\u009B\u00E9";
    const Bytes tree =
        SabunnTree({{0, hostile, {'N', 'A', 'M', 'E'}}, {130, u"", {'P', 'A', 'Y', 'L'}}});
    WriteFile(dir_ / "named.exe", BuildImage(tree));

    const fs::path out = dir_ / "out";
    const RunResult r =
        Sabunn("extract '" + (dir_ / "named.exe").string() + "' -d '" + out.string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "130 plain 4\n");
    EXPECT_NE(r.err.find("skipping the payload named "
                         "'\\x1B]0;owned\\x07\\x1B[2J\\\\x\\u202Eexe.txt\\u009B\xC3\xA9'"),
              std::string::npos)
        << r.err;
    // Nothing that a terminal acts on is left: no control byte but the line
    // ends, no C1 control or bidirectional override in UTF-8.
    for (std::size_t i = 0; i < r.err.size(); ++i) {
        const auto c = static_cast<unsigned char>(r.err[i]);
        EXPECT_TRUE(c >= 0x20 || c == '\n') << "control byte " << int(c) << " at " << i;
        EXPECT_NE(c, 0x7F);
    }
    EXPECT_EQ(r.err.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(r.err.find("\xE2\x80\xAE"), std::string::npos);
}

TEST_F(Extract, RefusesModulesWithoutPayloadsOrDamaged) {
    const fs::path out = dir_ / "out";
    WriteFile(dir_ / "none.exe", BuildImage(BuildMiniTree()));
    RunResult r =
        Sabunn("extract '" + (dir_ / "none.exe").string() + "' -d '" + out.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no SABUNN payloads"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(out));

    Bytes looping = BuildMiniTree();
    Entry(looping, MiniTree::kNames, 0, 1, kSub | MiniTree::kTypes);
    WriteFile(dir_ / "loop.exe", BuildImage(looping));
    r = Sabunn("extract '" + (dir_ / "loop.exe").string() + "' -d '" + out.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("enters a directory twice"), std::string::npos) << r.err;

    r = Sabunn("extract '" + (dir_ / "missing.exe").string() + "' -d '" + out.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.exe"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace morivane
