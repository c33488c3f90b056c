// Records that the update run did not write, or that cannot be acted on: the
// recovery never lets one move a file the run would not, and never lets one
// lock the installation for good when the files show it whole.
#include "update/update_record.h"

#include <gtest/gtest.h>

#include "patch/crc32.h"
#include "tests/support/test_installation.h"
#include "update/recovery.h"

namespace morivane {
namespace {

using testing::kDir;
using testing::kExe;
using testing::kRecord;
using testing::kTargets;
using testing::Original;
using Installation = testing::TestInstallation;

const InstallationPaths kPaths = PathsOf(kExe, kDir);

// One entry in the record's format, written here by hand so that records
// the run would never write can be made.
std::string Entry(char kind, int row, const std::string& text1, const std::string& text2) {
    std::string e{kind,
                  static_cast<char>(row),
                  static_cast<char>(text1.size() & 0xFF),
                  static_cast<char>(text1.size() >> 8),
                  static_cast<char>(text2.size() & 0xFF),
                  static_cast<char>(text2.size() >> 8)};
    e += text1 + text2;
    const std::uint32_t crc = Crc32({reinterpret_cast<const std::uint8_t*>(e.data()), e.size()});
    for (int i = 0; i < 4; ++i) e.push_back(static_cast<char>(crc >> (8 * i)));
    return e;
}
const std::string kBegin = Entry('B', 0, "MORIVANE-REC 2", "");

SumsLookup WithSums() {
    return {SumsLookup::Kind::kPresent, Installation::Sums()};
}

RecoveryResult Recover(Installation& inst, const SumsLookup& sums = {}) {
    return RecoverInterruptedUpdate(inst.files, kPaths, inst.hostEnvironment.get(), sums);
}

TEST(UpdateRecord, TheRunWritesRowsAndAsideNamesButNoPath) {
    Installation run;
    std::string record;
    run.files.beforeMutation = [&] {
        if (run.files.Has(kRecord)) record = run.files.At(kRecord).content;
    };
    ASSERT_EQ(run.Run(), IDS_UPDATE_DONE);
    EXPECT_EQ(record.find("C:"), std::string::npos);
    EXPECT_EQ(record.find(kDir), std::string::npos);
    EXPECT_NE(record.find("Clone5.bak"), std::string::npos);

    const RecordContents parsed = ParseUpdateRecord(record, kPaths.rowNames);
    EXPECT_TRUE(parsed.begun && parsed.committed && !parsed.foreign);
    ASSERT_EQ(parsed.asides.size(), 5u);
    EXPECT_EQ(parsed.asides[4].row, 4);
    EXPECT_EQ(parsed.asides[4].asideNumber, 5);

    // Rows are matched by name without regard to ASCII case; an executable
    // by another name is another installation's.
    RowNames upper = kPaths.rowNames;
    upper[1] = "DAT\\IOBJECTC.TIL";
    EXPECT_FALSE(ParseUpdateRecord(record, upper).foreign);
    RowNames renamed = kPaths.rowNames;
    renamed[0] = "Other.exe";
    EXPECT_TRUE(ParseUpdateRecord(record, renamed).foreign);
}

TEST(UpdateRecord, AnEntryNamingAnyOtherFileIsForeign) {
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"C:\\Windows\\System\\victim.dll", "Clone1.bak"},  // a target outside
        {kExe, "Clone1.bak"},                               // even its own, as a path
        {"Morivane.exe", "C:\\Windows\\Clone1.bak"},        // an aside outside
        {"Morivane.exe", "..\\Clone1.bak"},
        {"Morivane.exe", "Clone01.bak"},
        {"Morivane.exe", "Clone1000.bak"},
        {"Morivane.exe", "Clone.bak"},
        {"Morivane.exe", "Clone1.bak "},
        {"dat\\Iobjectc.til", "Clone1.bak"},  // row 0 named as row 1's file
    };
    for (const auto& [target, aside] : hostile) {
        SCOPED_TRACE(target + " | " + aside);
        const std::string record = kBegin + Entry('A', 0, target, aside);
        EXPECT_TRUE(ParseUpdateRecord(record, kPaths.rowNames).foreign);
    }
    EXPECT_TRUE(ParseUpdateRecord(kBegin + Entry('A', 5, "x", "Clone1.bak"), kPaths.rowNames)
                    .foreign);  // no row 5
    EXPECT_TRUE(ParseUpdateRecord(kBegin + Entry('A', 1, "dat\\Iobjectc.til", "Clone1.bak") +
                                      Entry('A', 0, "Morivane.exe", "Clone2.bak"),
                                  kPaths.rowNames)
                    .foreign);  // rows out of order
    EXPECT_TRUE(ParseUpdateRecord(Entry('B', 0, "MORIVANE-REC 1", ""), kPaths.rowNames).foreign);
    // A cut or failed check is a write that never completed: not foreign.
    const RecordContents cut = ParseUpdateRecord(kBegin.substr(0, 7), kPaths.rowNames);
    EXPECT_FALSE(cut.begun || cut.foreign);
}

TEST(UpdateRecord, ACraftedRecordCannotReplaceAFileOutsideTheInstallation) {
    const std::string victim = "C:\\Windows\\System\\victim.dll";
    for (bool sums : {false, true}) {
        SCOPED_TRACE(sums ? "with sums" : "without sums");
        Installation inst;
        inst.files.Put(victim, "the machine's own");
        inst.files.Put(kDir + "Clone1.bak", "the attacker's");
        inst.files.Put(kRecord, kBegin + Entry('A', 0, victim, "Clone1.bak"));
        const RecoveryResult result = Recover(inst, sums ? WithSums() : SumsLookup{});
        EXPECT_EQ(inst.files.At(victim).content, "the machine's own");
        EXPECT_EQ(inst.files.At(kDir + "Clone1.bak").content, "the attacker's");
        for (std::size_t row = 0; row < 5; ++row) inst.ExpectUntouched(row);
        if (sums) {
            // The installation is whole: the record stands aside for inspection.
            EXPECT_EQ(result, RecoveryResult::kSetAside);
            EXPECT_FALSE(inst.files.Has(kRecord));
            EXPECT_EQ(inst.files.At(kDir + "Clone1.rec").content,
                      kBegin + Entry('A', 0, victim, "Clone1.bak"));
        } else {
            EXPECT_EQ(result, RecoveryResult::kBlocked);
            EXPECT_TRUE(inst.files.Has(kRecord));
        }
    }
}

TEST(UpdateRecord, ARecordLeftInAMovedInstallationStillRecovers) {
    // A run interrupted with two originals aside; then the whole folder was
    // moved (or is reached by another spelling of its path).
    const auto crashed = Installation::FilesAtFirst(
        [](const Installation& i) { return i.files.Has(kDir + "Clone2.bak"); });
    ASSERT_FALSE(crashed.empty());
    const std::string moved = "D:\\GAMES\\MORIVA~1\\";
    testing::DiskImage there;
    for (const auto& [path, file] : crashed) there[moved + path.substr(kDir.size())] = file;
    Installation inst(there);
    const InstallationPaths paths = PathsOf(moved + "Morivane.exe", moved);
    EXPECT_EQ(RecoverInterruptedUpdate(inst.files, paths, nullptr, {}),
              RecoveryResult::kRolledBack);
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(inst.files.At(paths.targets[row]).content, Original(row));
    }
    EXPECT_EQ(inst.files.Image().size(), 5u);
}

TEST(UpdateRecord, RecordsThatCannotBeReadStandAsideWhenTheFilesAreWhole) {
    struct Case {
        const char* what;
        std::function<void(Installation&)> make;
    };
    const std::vector<Case> cases = {
        {"over 64 KiB", [](Installation& i) { i.files.Put(kRecord, std::string(70000, 'x')); }},
        {"unreadable",
         [](Installation& i) {
             i.files.Put(kRecord, kBegin);
             i.files.unreadable.insert(kRecord);
         }},
        {"another program's",
         [](Installation& i) { i.files.Put(kRecord, kBegin + Entry('X', 0, "", "")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool updated : {false, true}) {
            Installation inst;
            if (updated) {
                ASSERT_EQ(inst.Run(), IDS_UPDATE_DONE);
                inst.files.unreadable.clear();
            }
            c.make(inst);
            const std::string before = inst.files.At(kRecord).content;
            EXPECT_EQ(Recover(inst, WithSums()), RecoveryResult::kSetAside);
            EXPECT_FALSE(inst.files.Has(kRecord));
            ASSERT_TRUE(inst.files.Has(kDir + "Clone1.rec"));
            EXPECT_EQ(inst.files.At(kDir + "Clone1.rec").content, before);
            testing::DiskImage image = inst.files.Image();
            image.erase(kDir + "Clone1.rec");
            inst.files.Load(image);
            EXPECT_TRUE(updated ? inst.IsUpdated() : inst.IsOriginal());
        }
        // Without sums, or with a file that is neither old nor new, nothing
        // tells the installation whole: the record is kept and reported.
        Installation unsure;
        c.make(unsure);
        EXPECT_EQ(Recover(unsure), RecoveryResult::kBlocked);
        EXPECT_TRUE(unsure.files.Has(kRecord));
        Installation broken;
        c.make(broken);
        broken.Rewrite(kTargets[3], "something else");
        EXPECT_EQ(Recover(broken, WithSums()), RecoveryResult::kBlocked);
        EXPECT_TRUE(broken.files.Has(kRecord));
    }
}

TEST(UpdateRecord, WithoutABeginEntryNothingWasMovedAndTheBytesAreKept) {
    // The first write torn: nothing to keep.
    Installation torn;
    torn.files.Put(kRecord, kBegin.substr(0, 9));
    torn.files.Put(testing::kTemp, "half a new file");
    EXPECT_EQ(Recover(torn), RecoveryResult::kRolledBack);
    EXPECT_TRUE(torn.Leftovers().empty());
    // Anything else under the record's name is kept under another.
    Installation other;
    other.files.Put(kRecord, "not a record at all");
    EXPECT_EQ(Recover(other), RecoveryResult::kSetAside);
    EXPECT_EQ(other.Leftovers(), std::vector<std::string>{kDir + "Clone1.rec"});
    for (std::size_t row = 0; row < 5; ++row) other.ExpectUntouched(row);
}

TEST(UpdateRecord, AReadOnlyRecordIsStillRemoved) {
    const auto crashed = Installation::FilesAtFirst(
        [](const Installation& i) { return i.files.Has(kDir + "Clone1.bak"); });
    ASSERT_FALSE(crashed.empty());
    testing::DiskImage image = crashed;
    image[kRecord].readOnly = true;
    Installation inst(image);
    EXPECT_EQ(Recover(inst), RecoveryResult::kRolledBack);
    EXPECT_FALSE(inst.files.Has(kRecord));
    EXPECT_TRUE(inst.Leftovers().empty());
}

TEST(UpdateRecord, ARecordHeldOpenByAnotherUpdaterIsItsLiveRun) {
    Installation inst;
    inst.files.Put(kRecord, kBegin);
    inst.files.heldElsewhere.insert(kRecord);
    const auto log = inst.files.log;
    EXPECT_EQ(Recover(inst, WithSums()), RecoveryResult::kLiveRun);
    EXPECT_EQ(inst.files.log, log);
    EXPECT_EQ(inst.files.At(kRecord).content, kBegin);

    // The run's own record is held while the run goes on: a second run is
    // refused without touching anything, and a recovery sees a live run.
    Installation running;
    std::optional<RecoveryResult> seen;
    running.files.beforeMutation = [&] {
        if (!seen && running.files.Has(kDir + "Clone3.bak")) {
            testing::MemoryFileSystem& f = running.files;
            f.beforeMutation = nullptr;
            seen = RecoverInterruptedUpdate(f, kPaths, nullptr, {});
        }
    };
    EXPECT_EQ(running.Run(), IDS_UPDATE_DONE);
    EXPECT_EQ(seen, std::optional(RecoveryResult::kLiveRun));
}

}  // namespace
}  // namespace morivane
