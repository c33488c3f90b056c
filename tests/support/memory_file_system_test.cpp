// The in-memory file system: the Win32 rules the update run relies on, and
// the disks its model lets a power cut leave. The update run's power-cut
// tests find a missing sync only where this model loses what was not synced.
#include "tests/support/memory_file_system.h"

#include <gtest/gtest.h>

#include <set>

namespace morivane::testing {
namespace {

using Disks = std::set<DiskImage>;

Disks Cuts(const MemoryFileSystem& fs) {
    const std::vector<DiskImage> cuts = fs.volume().AfterPowerCut();
    return Disks(cuts.begin(), cuts.end());
}

// A disk of files with the given contents, writable and never stamped.
DiskImage Disk(std::initializer_list<std::pair<const std::string, std::string>> files) {
    DiskImage disk;
    for (const auto& [path, content] : files) disk[path] = FileState{content, false, {}};
    return disk;
}

void Write(MemoryFileSystem& fs, const std::string& path, const std::string& content) {
    auto out = fs.CreateForWriting(path);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->Write(content.data(), 1, content.size()), content.size());
    ASSERT_TRUE(out->Close());
}

TEST(MemoryFileSystem, FollowsTheWin32RulesForReadOnlyFilesAndMoves) {
    MemoryFileSystem fs;
    fs.Put("d\\ro", "kept", true, 7);
    fs.Put("d\\other", "there");
    EXPECT_FALSE(fs.IsWritable("d\\ro"));
    EXPECT_FALSE(fs.Delete("d\\ro"));
    EXPECT_EQ(fs.CreateForWriting("d\\ro"), nullptr);
    EXPECT_FALSE(fs.SetTimes("d\\ro", 9));
    EXPECT_FALSE(fs.Move("d\\ro", "d\\other"));  // the destination exists
    EXPECT_TRUE(fs.Move("d\\ro", "d\\moved"));
    EXPECT_EQ(fs.At("d\\moved"), (FileState{"kept", true, 7}));
    EXPECT_TRUE(fs.MakeWritable("d\\moved"));
    EXPECT_TRUE(fs.Delete("d\\moved"));
    EXPECT_EQ(fs.Image(), Disk({{"d\\other", "there"}}));

    // A reader sees the file emptied when it is created anew.
    auto in = fs.OpenForReading("d\\other");
    ASSERT_NE(in, nullptr);
    Write(fs, "d\\other", "");
    EXPECT_EQ(in->Length(), 0);
}

TEST(PowerCutModel, LeavesANewFileMissingEmptyOrWholeUntilItAndItsDirectoryAreSynced) {
    MemoryFileSystem fs;
    Write(fs, "d\\new", "abc");
    EXPECT_EQ(Cuts(fs), (Disks{{}, Disk({{"d\\new", ""}}), Disk({{"d\\new", "abc"}})}));
    ASSERT_TRUE(fs.SyncFile("d\\new"));
    EXPECT_EQ(Cuts(fs), (Disks{{}, Disk({{"d\\new", "abc"}})}));
    ASSERT_TRUE(fs.SyncDirectory("d\\"));
    EXPECT_EQ(Cuts(fs), (Disks{Disk({{"d\\new", "abc"}})}));
}

TEST(PowerCutModel, KeepsAMoveWholeOrNotAtAllUntilEveryDirectoryItTouchesIsSynced) {
    // One move from a to b and one from b to a: a sync of either directory
    // alone makes neither durable.
    MemoryFileSystem fs;
    fs.Put("a\\f", "1");
    fs.Put("b\\g", "2");
    ASSERT_TRUE(fs.Move("a\\f", "b\\f"));
    ASSERT_TRUE(fs.Move("b\\g", "a\\g"));
    const Disks any = {Disk({{"a\\f", "1"}, {"b\\g", "2"}}), Disk({{"b\\f", "1"}, {"b\\g", "2"}}),
                       Disk({{"a\\f", "1"}, {"a\\g", "2"}}), Disk({{"b\\f", "1"}, {"a\\g", "2"}})};
    EXPECT_EQ(Cuts(fs), any);
    ASSERT_TRUE(fs.SyncDirectory("a\\"));
    EXPECT_EQ(Cuts(fs), any);
    ASSERT_TRUE(fs.SyncDirectory("b"));  // the separator may be left out
    EXPECT_EQ(Cuts(fs), (Disks{Disk({{"b\\f", "1"}, {"a\\g", "2"}})}));
}

TEST(PowerCutModel, KeepsUnsyncedChangesInAnyOrderButNeverWithoutThoseTheyNeed) {
    // Two deletions of different names: any of the four outcomes, the later
    // one on the disk without the earlier one too. A sync of another
    // directory makes neither durable.
    MemoryFileSystem two;
    two.Put("d\\a", "1");
    two.Put("d\\b", "2");
    ASSERT_TRUE(two.Delete("d\\a"));
    ASSERT_TRUE(two.Delete("d\\b"));
    ASSERT_TRUE(two.SyncDirectory("e\\"));
    EXPECT_EQ(Cuts(two), (Disks{{},
                                Disk({{"d\\a", "1"}}),
                                Disk({{"d\\b", "2"}}),
                                Disk({{"d\\a", "1"}, {"d\\b", "2"}})}));

    // A file moved on twice is under one of its three names, never under the
    // first and the last at once. Once the second move is durable, the first
    // one it needed is too, though its own first directory was never synced.
    MemoryFileSystem chain;
    chain.Put("x\\a", "f");
    ASSERT_TRUE(chain.Move("x\\a", "y\\b"));
    ASSERT_TRUE(chain.Move("y\\b", "z\\c"));
    EXPECT_EQ(Cuts(chain),
              (Disks{Disk({{"x\\a", "f"}}), Disk({{"y\\b", "f"}}), Disk({{"z\\c", "f"}})}));
    ASSERT_TRUE(chain.SyncDirectory("y\\"));
    ASSERT_TRUE(chain.SyncDirectory("z\\"));
    EXPECT_EQ(Cuts(chain), (Disks{Disk({{"z\\c", "f"}})}));
}

TEST(PowerCutModel, CutsAFileOpenForWritingAtAnyWriteOrOneByteShortOfOne) {
    MemoryFileSystem fs;
    auto out = fs.CreateForWriting("log");
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(fs.SyncDirectory(""));
    ASSERT_EQ(out->Write("ab", 1, 2), 2u);
    ASSERT_TRUE(out->Sync());
    ASSERT_EQ(out->Write("cde", 1, 3), 3u);
    ASSERT_EQ(out->Write("f", 1, 1), 1u);
    EXPECT_EQ(Cuts(fs), (Disks{Disk({{"log", "ab"}}), Disk({{"log", "abcd"}}),
                               Disk({{"log", "abcde"}}), Disk({{"log", "abcdef"}})}));
    // Once closed, the unsynced part is there or not as a whole.
    ASSERT_TRUE(out->Close());
    EXPECT_EQ(Cuts(fs), (Disks{Disk({{"log", "ab"}}), Disk({{"log", "abcdef"}})}));
}

TEST(PowerCutModel, KeepsAttributesAndTimesWithTheFileAndNothingAFailedSyncAskedFor) {
    MemoryFileSystem fs;
    fs.Put("f", "x", true, 5);
    ASSERT_TRUE(fs.MakeWritable("f"));
    ASSERT_TRUE(fs.SetTimes("f", 9));
    const Disks either = {DiskImage{{"f", FileState{"x", true, 5}}},
                          DiskImage{{"f", FileState{"x", false, 9}}}};
    EXPECT_EQ(Cuts(fs), either);
    fs.unsyncable.insert("f");
    EXPECT_FALSE(fs.SyncFile("f"));
    EXPECT_EQ(Cuts(fs), either);
    fs.unsyncable.clear();
    EXPECT_TRUE(fs.SyncFile("f"));
    EXPECT_EQ(Cuts(fs), (Disks{DiskImage{{"f", FileState{"x", false, 9}}}}));
}

}  // namespace
}  // namespace morivane::testing
