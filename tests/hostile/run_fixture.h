// The adversarial tests of `sabunn update`: a copy of the demo installation
// beside an "outside" folder of files that belong to someone else, the built
// sabunn run on it (ended by SIGALRM if it hangs), and checks that the
// installation is exactly as before or wholly new and that nothing outside
// it changed.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/update_test_support.h"
#include "tests/support/hostile_tree.h"

namespace morivane::hostile {

using namespace morivane::updatetest;
using testing::Capture;
using testing::ChildOptions;
using testing::Special;
using testing::Tree;
using testing::TreeDifferences;

// Long enough for any run on a loaded machine; a hang ends here.
inline constexpr unsigned kHangSeconds = 60;

class HostileRun : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!DemoBuilt()) GTEST_SKIP() << "the demo product is not built in " << kDemoDir;
        ASSERT_FALSE(tmp_.path().empty());
        inst_ = tmp_.path() / "inst";
        outside_ = tmp_.path() / "outside";
        fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
        fs::create_directory(outside_);
        // Someone else's files: one ordinary, one read-only, one executable.
        Spit(outside_ / "victim.conf", "the machine's own");
        Spit(outside_ / "readonly.bin", "kept read-only");
        Spit(outside_ / "tool", "#!/bin/sh\n");
        fs::permissions(outside_ / "readonly.bin", fs::perms(0444));
        fs::permissions(outside_ / "tool", fs::perms(0755));
        payloads_ = (kDemoDir / "payloads").string();
    }

    // `sabunn update --yes` on the installation with the demo's payloads (or
    // `payloads_`) and `extra` arguments.
    RunResult Update(const std::vector<std::string>& extra = {},
                     const fs::path& inst = fs::path()) {
        std::vector<std::string> argv = {kSabunn,     "update", "--install-dir",
                                         (inst.empty() ? inst_ : inst).string(),
                                         "--payloads", payloads_, "--yes"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildOptions options;
        options.alarmSeconds = kHangSeconds;
        return testing::RunProgram(argv, tmp_.path(), options);
    }

    // The whole scratch area: installation, outside files and payloads.
    Tree Everything() const {
        Tree tree = Capture(tmp_.path());
        for (auto it = tree.begin(); it != tree.end();) {
            it = it->first.starts_with(".std") ? tree.erase(it) : std::next(it);
        }
        return tree;
    }

    // The installation is the demo's new tree: the same names and bytes, the
    // five files stamped, plus exactly the `kept` entries (names relative to
    // the installation) that the run leaves alone.
    void ExpectWhollyNew(const std::set<std::string>& kept = {},
                         const fs::path& inst = fs::path()) const {
        const fs::path dir = inst.empty() ? inst_ : inst;
        Tree actual = Capture(dir);
        for (const std::string& name : kept) {
            EXPECT_EQ(actual.erase(name), 1u) << name << " should have been left alone";
        }
        auto namesAndBytes = [](Tree tree) {
            for (auto& [name, e] : tree) e = {e.kind, 0, 0, 0, e.content, 0};
            tree.erase(".");
            return tree;
        };
        EXPECT_EQ(TreeDifferences(namesAndBytes(Capture(kDemoDir / "new")), namesAndBytes(actual)),
                  "");
        for (const std::string& f : kFiveFiles) {
            EXPECT_EQ(actual[f].mtime, kStamp) << f;
        }
    }

    // Runs the update and expects it refused with `status`, every line of
    // `reasons` on stderr, and nothing anywhere changed.
    void ExpectRefused(int status, const std::vector<std::string>& reasons,
                       const std::vector<std::string>& extra = {}) {
        const Tree before = Everything();
        const RunResult r = Update(extra);
        EXPECT_EQ(r.signal, 0) << "the update hung or crashed\n" << r.out << r.err;
        EXPECT_EQ(r.status, status) << r.out << r.err;
        EXPECT_NE(r.err.find("message " + std::to_string(status) + ": "), std::string::npos)
            << r.err;
        for (const std::string& reason : reasons) {
            EXPECT_NE(r.err.find(reason), std::string::npos) << reason << "\n" << r.err;
        }
        EXPECT_EQ(TreeDifferences(before, Everything()), "");
    }

    // The real path of the installation, as sabunn names it in messages.
    std::string Real(const std::string& relative) const {
        return fs::canonical(inst_).string() + "/" + relative;
    }

    TempDir tmp_{"morivane_hostile"};
    fs::path inst_;
    fs::path outside_;
    std::string payloads_;
};

}  // namespace morivane::hostile
