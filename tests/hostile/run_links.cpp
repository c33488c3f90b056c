// Links planted in the installation: under the run's own names (the
// temporary file, the record, an aside), in place of one of the five files
// and in place of `dat`. Nothing outside the installation may be written,
// re-moded or stamped; the installation ends as before or wholly new.
#include "tests/hostile/run_fixture.h"

namespace morivane::hostile {
namespace {

class Links : public HostileRun {
  protected:
    // Runs the update with the demo's payloads (and their sums) and expects
    // it to succeed with the installation wholly new but for `kept`, the
    // outside files untouched, and every line of `said` in its output.
    void ExpectUpdatedAndOutsideUntouched(const std::set<std::string>& kept,
                                          const std::vector<std::string>& said) {
        const Tree outside = Capture(outside_);
        const RunResult r = Update();
        EXPECT_EQ(r.signal, 0) << r.out << r.err;
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        ExpectWhollyNew(kept);
        EXPECT_EQ(TreeDifferences(outside, Capture(outside_)), "");
        for (const std::string& line : said) {
            EXPECT_NE((r.out + r.err).find(line), std::string::npos) << line << "\n" << r.out;
        }
    }
};

TEST_F(Links, ATemporaryFileLinkedOutsideIsRemovedNotWrittenThrough) {
    // A symbolic link and, in a second installation, a hard link, both to
    // someone else's file: the run clears its name and makes its own file.
    fs::create_symlink(outside_ / "victim.conf", inst_ / "Clone.tmp");
    ExpectUpdatedAndOutsideUntouched(
        {}, {"note: '" + Real("Clone.tmp") + "' (a symbolic link to '" +
             (outside_ / "victim.conf").string() + "') was left under the run's temporary name"});

    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    fs::create_hard_link(outside_ / "readonly.bin", inst_ / "Clone.tmp");
    ExpectUpdatedAndOutsideUntouched({}, {"was left under the run's temporary name"});
    EXPECT_EQ(fs::hard_link_count(outside_ / "readonly.bin"), 1u);
}

TEST_F(Links, OneOfTheFiveFilesAsALinkRefusesTheInstallation) {
    // Links to copies outside the installation, the executable's read-only:
    // following them would replace, re-mode and stamp those copies.
    fs::copy_file(inst_ / "Morivane.exe", outside_ / "Morivane.exe");
    fs::permissions(outside_ / "Morivane.exe", fs::perms(0444));
    fs::remove(inst_ / "Morivane.exe");
    fs::create_symlink(outside_ / "Morivane.exe", inst_ / "Morivane.exe");
    ExpectRefused(7, {"'" + Real("Morivane.exe") + "' is a symbolic link to '" +
                      (outside_ / "Morivane.exe").string() +
                      "'; the update follows no link inside the installation"});

    // A data file linked to a file inside the installation is refused too:
    // where a link leads can change between a look and a use.
    fs::remove(inst_ / "Morivane.exe");
    fs::copy_file(outside_ / "Morivane.exe", inst_ / "Morivane.exe");
    fs::rename(inst_ / "dat/Iobjecto.til", inst_ / "Iobjecto.real");
    fs::create_symlink("../Iobjecto.real", inst_ / "dat/Iobjecto.til");
    ExpectRefused(7, {"'" + Real("dat/Iobjecto.til") + "' is a symbolic link"});
}

TEST_F(Links, DatAsALinkRefusesTheInstallationWhereverItLeads) {
    fs::copy(inst_ / "dat", outside_ / "dat", fs::copy_options::recursive);
    fs::remove_all(inst_ / "dat");
    fs::create_directory_symlink(outside_ / "dat", inst_ / "dat");
    ExpectRefused(7, {"'" + Real("dat") + "' is a symbolic link to '" +
                      (outside_ / "dat").string() + "'", "Put the directory itself"});

    fs::remove(inst_ / "dat");
    fs::copy(outside_ / "dat", inst_ / "data", fs::copy_options::recursive);
    fs::create_directory_symlink("data", inst_ / "dat");
    ExpectRefused(7, {"'" + Real("dat") + "' is a symbolic link to 'data'"});
}

TEST_F(Links, FilesWithOtherNamesAreReplacedNeverWrittenOrReModed) {
    // The executable (read-only) and a data file share their inodes with
    // files outside: the update goes through, and those keep their bytes,
    // mode and times.
    fs::permissions(inst_ / "Morivane.exe", fs::perms(0444));
    fs::create_hard_link(inst_ / "Morivane.exe", outside_ / "Morivane.exe");
    fs::create_hard_link(inst_ / "dat/Iobjecth.til", outside_ / "Iobjecth.til");
    ExpectUpdatedAndOutsideUntouched(
        {}, {"note: '" + Real("Morivane.exe") + "' has 1 other name(s) (hard links)"});
    EXPECT_EQ(fs::hard_link_count(outside_ / "Morivane.exe"), 1u);
}

TEST_F(Links, ARecordThatIsALinkIsSetAsideOrNamed) {
    // Dangling, and to someone else's file. With the sums the installation
    // checks out whole: the link is renamed Clone1.rec, kept, and the update
    // goes through; nothing is made where it leads.
    fs::create_symlink(outside_ / "nowhere", inst_ / "Clone.rec");
    ExpectUpdatedAndOutsideUntouched(
        {"Clone1.rec"},
        {"note: '" + Real("Clone.rec") + "' (a symbolic link to '" +
             (outside_ / "nowhere").string() + "', which leads nowhere) is not the record",
         "was renamed Clone<n>.rec"});
    EXPECT_EQ(fs::read_symlink(inst_ / "Clone1.rec"), outside_ / "nowhere");

    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    fs::create_symlink(outside_ / "victim.conf", inst_ / "Clone.rec");
    ExpectUpdatedAndOutsideUntouched({"Clone1.rec"}, {"was renamed Clone<n>.rec"});

    // Without sums nothing shows the installation whole: refused, the link
    // named, everything left as it was.
    fs::remove_all(inst_);
    fs::copy(kDemoDir / "old", inst_, fs::copy_options::recursive);
    fs::create_symlink(outside_ / "nowhere", inst_ / "Clone.rec");
    CopyPayloadsWithoutSums(tmp_.path() / "unsummed");
    payloads_ = (tmp_.path() / "unsummed").string();
    ExpectRefused(7,
                  {"'" + Real("Clone.rec") + "' is a symbolic link to '" +
                   (outside_ / "nowhere").string() +
                   "', which leads nowhere, not the record of an update run"},
                  {"--no-sums"});
}

TEST_F(Links, AsideNamesHeldByLinksAreSkipped) {
    fs::create_symlink(outside_ / "nowhere", inst_ / "Clone1.bak");
    fs::create_symlink(outside_ / "victim.conf", inst_ / "Clone2.bak");
    ExpectUpdatedAndOutsideUntouched(
        {"Clone1.bak", "Clone2.bak"},
        {"note: '" + Real("Clone1.bak") + "' (a symbolic link to '" +
         (outside_ / "nowhere").string() + "', which leads nowhere) was left under a name"});
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside_ / "nowhere")));
}

}  // namespace
}  // namespace morivane::hostile
