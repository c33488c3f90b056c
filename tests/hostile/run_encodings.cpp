// Installations under folders whose names are not plain ASCII: UTF-8
// Japanese names as a Japanese Linux desktop has them, a backslash in a
// parent folder's name, and bytes that are no UTF-8 at all. The folder's
// path is a native path: the update must go through, and nothing may appear
// beside the installation or in any parent folder.
#include "tests/hostile/run_fixture.h"

namespace morivane::hostile {
namespace {

class Encodings : public HostileRun {
  protected:
    // Everything in the scratch area but the installation at `inst`.
    Tree Around(const fs::path& inst) const {
        const std::string rel = inst.lexically_relative(tmp_.path()).string();
        Tree tree = Everything();
        for (auto it = tree.begin(); it != tree.end();) {
            const bool inside = it->first == rel || it->first.starts_with(rel + "/");
            it = inside ? tree.erase(it) : std::next(it);
        }
        return tree;
    }

    // Moves the installation into `parents` (created under the scratch
    // area), updates it there with `extra` arguments and checks that it is
    // wholly new and that nothing beside or above it changed.
    void ExpectUpdatedUnder(const std::vector<std::string>& parents,
                            const std::vector<std::string>& extra = {}) {
        fs::path dir = tmp_.path();
        for (const std::string& parent : parents) dir /= parent;
        fs::create_directories(dir);
        const fs::path inst = dir / "inst";
        fs::rename(inst_, inst);
        const Tree around = Around(inst);
        const RunResult r = Update(extra, inst);
        EXPECT_EQ(r.signal, 0) << r.out << r.err;
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        ExpectWhollyNew({}, inst);
        EXPECT_EQ(TreeDifferences(around, Around(inst)), "");
        fs::rename(inst, inst_);
    }
};

TEST_F(Encodings, JapaneseFolderNames) {
    for (const char* name : {"テスト", "デスクトップ", "ダウンロード"}) {
        SCOPED_TRACE(name);
        ExpectUpdatedUnder({name});
        fs::remove_all(inst_);
        fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    }
    ExpectUpdatedUnder({"デスクトップ", "テスト", "ダウンロード"});
}

TEST_F(Encodings, ABackslashInAParentFolderName) {
    // With the sums, without them, and after a Japanese name whose last
    // byte would pair with the backslash in code page 932.
    ExpectUpdatedUnder({"a\\b"});
    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    CopyPayloadsWithoutSums(tmp_.path() / "unsummed");
    payloads_ = (tmp_.path() / "unsummed").string();
    ExpectUpdatedUnder({"テスト\\x"}, {"--no-sums"});
}

TEST_F(Encodings, BytesThatAreNoUtf8) {
    // ソ in code page 932 (its second byte is a backslash) and two bytes that
    // no encoding in use here would write.
    ExpectUpdatedUnder({"\x83\x5C"});
    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    ExpectUpdatedUnder({"\xFF\xFE"});
}

}  // namespace
}  // namespace morivane::hostile
