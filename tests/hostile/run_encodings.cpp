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

    // Moves the installation to the folder `names` (below the scratch area,
    // the last of them the installation's own), updates it there with
    // `extra` arguments and checks that it is wholly new and that nothing
    // beside or above it changed.
    void ExpectUpdatedAt(const std::vector<std::string>& names,
                         const std::vector<std::string>& extra = {}) {
        fs::path inst = tmp_.path();
        for (const std::string& name : names) inst /= name;
        fs::create_directories(inst.parent_path());
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
    // As the installation's own folder, where the last byte of ト (0x88, a
    // lead byte in code page 932) meets the separator the run adds.
    for (const char* name : {"テスト", "デスクトップ", "ダウンロード"}) {
        SCOPED_TRACE(name);
        ExpectUpdatedAt({name});
        fs::remove_all(inst_);
        fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    }
    ExpectUpdatedAt({"デスクトップ", "ダウンロード", "テスト"});
}

TEST_F(Encodings, ABackslashInAParentFolderName) {
    // With the sums and without them; below it a folder whose last byte
    // would pair with the next backslash in code page 932.
    ExpectUpdatedAt({"a\\b", "inst"});
    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    CopyPayloadsWithoutSums(tmp_.path() / "unsummed");
    payloads_ = (tmp_.path() / "unsummed").string();
    ExpectUpdatedAt({"a\\b", "テスト"}, {"--no-sums"});
}

TEST_F(Encodings, BytesThatAreNoUtf8) {
    // ソ in code page 932 (its second byte is a backslash) and two bytes that
    // no encoding in use here would write.
    ExpectUpdatedAt({"\x83\x5C"});
    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    ExpectUpdatedAt({"\xFF\xFE"});
}

}  // namespace
}  // namespace morivane::hostile
