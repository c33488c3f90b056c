#include "patch/diff_patcher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "decode/hf.h"
#include "platform/memory_payload_store.h"
#include "tests/support/test_scripts.h"
#include "tests/support/bit_writer.h"
#include "tests/support/memory_file_system.h"
#include "tools/encode/payload.h"
#include "ui/catalogue.h"

namespace morivane {
namespace {

using testing::Header;
using testing::MakeScript;
using testing::MemoryFileSystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kId = 130;
const std::string kOld = "dat/Iobjectc.til";
const std::string kNew = "Clone.tmp";

class PatcherTest : public ::testing::Test {
  protected:
    int Patch(int id = kId) { return patcher.Patch(kOld, kNew, id); }
    // After a failure past step 3: an empty new file, nothing open or held.
    void ExpectEmptyNewFileAndNothingHeld() {
        EXPECT_TRUE(fs.Has(kNew));
        EXPECT_TRUE(fs.Get(kNew).empty());
        ExpectNothingHeld();
    }
    void ExpectNothingHeld() {
        EXPECT_EQ(fs.openInputs, 0);
        EXPECT_EQ(fs.openOutputs, 0);
        EXPECT_FALSE(patcher.HoldsFiles());
        EXPECT_FALSE(patcher.HoldsBlocks());
    }

    MemoryFileSystem fs;
    MemoryPayloadStore store;
    DiffPatcher patcher{fs, store};
};

// --- The rebuild itself -----------------------------------------------------

TEST_F(PatcherTest, CopiesAndLiteralsAreWrittenInRunOrder) {
    // Unit size 4 over a 3-unit old file. Copy offsets are bytes: 6 is half a
    // unit into unit 1; later runs go backwards (1, then 0) and reuse 6. Three
    // copy runs follow each other, each with its own offset; the zero entry
    // writes nothing and takes neither an offset nor a pool unit.
    fs.Put(kOld, "ABCDEFGHIJKL");
    store.Add(kId, MakeScript(4, {1, -1, 0, 2, 1, 1, -2}, {6, 1, 6, 0}, "wxyz12345678"));
    ASSERT_EQ(Patch(), 0);
    EXPECT_EQ(fs.Text(kNew), "GHIJwxyzBCDEFGHIGHIJABCD12345678");
    // One write request per non-empty run, each of the run's whole units.
    EXPECT_EQ(fs.writeCounts, (std::vector<std::size_t>{1, 1, 2, 1, 1, 2}));
    ExpectNothingHeld();
    // The old file is closed before the new one.
    EXPECT_EQ(fs.closes, (std::vector<std::string>{"close " + kOld, "close " + kNew}));
}

TEST_F(PatcherTest, OldFileEndingMidUnitIsZeroPadded) {
    // 10 bytes in units of 4: N = 3, the read reports 2 whole units and is
    // accepted; the bytes past the end read as zeros.
    fs.Put(kOld, "ABCDEFGHIJ");
    store.Add(kId, MakeScript(4, {2, 1, -1}, {4, 8}, "wxyz"));
    ASSERT_EQ(patcher.Load(kOld, kNew, kId), 0);
    EXPECT_EQ(patcher.OldUnitCount(), 3);
    EXPECT_EQ(patcher.Apply(), 0);
    patcher.Close();
    EXPECT_EQ(fs.Text(kNew), std::string("EFGHIJ\0\0IJ\0\0wxyz", 16));
}

TEST_F(PatcherTest, EmptyOldFileGivesEmptyImage) {
    fs.Put(kOld, "");
    store.Add(kId, MakeScript(4, {-2}, {}, "abcdefgh"));
    ASSERT_EQ(patcher.Load(kOld, kNew, kId), 0);
    EXPECT_EQ(patcher.OldUnitCount(), 0);
    EXPECT_EQ(patcher.Apply(), 0);
    patcher.Close();
    EXPECT_EQ(fs.Text(kNew), "abcdefgh");
}

void* RefuseZeroBytes(std::size_t count, std::size_t size) {
    return count * size == 0 ? nullptr : std::calloc(count, size);
}

TEST_F(PatcherTest, ZeroCountsGiveEmptyBlocksNotAllocationFailures) {
    // R = K = L = 0 and an empty old file: every block has zero items. The
    // allocator refuses requests of zero bytes, as calloc may.
    DiffPatcher strict(fs, store, &RefuseZeroBytes);
    fs.Put(kOld, "");
    store.Add(kId, MakeScript(32, {}, {}));
    EXPECT_EQ(strict.Patch(kOld, kNew, kId), 0);
    EXPECT_TRUE(fs.Has(kNew));
    EXPECT_TRUE(fs.Get(kNew).empty());
    EXPECT_EQ(fs.writeCalls, 0);

    // Only zero entries: still nothing written.
    store.Add(kId, MakeScript(32, {0, 0, 0}, {}));
    EXPECT_EQ(strict.Patch(kOld, kNew, kId), 0);
    EXPECT_TRUE(fs.Get(kNew).empty());
}

TEST_F(PatcherTest, OneLongLiteralRunThenOneCopiedUnit) {
    // The shape of the plain payload for "dat\Iobjecte.til": a literal run of
    // 21,777 units of 32 bytes, then one unit copied from offset 0.
    std::string pool(21777 * 32, '\0');
    for (std::size_t i = 0; i < pool.size(); ++i) pool[i] = static_cast<char>(i * 7 + i / 251);
    const auto script = MakeScript(32, {-21777, 1}, {0}, pool);
    EXPECT_EQ(script.size(), 696892u);
    store.Add(kId, script);

    std::string old(100, '\0');
    for (int i = 0; i < 100; ++i) old[i] = static_cast<char>(200 - i);
    fs.Put(kOld, old);
    ASSERT_EQ(Patch(), 0);
    const std::string out = fs.Text(kNew);
    ASSERT_EQ(out.size(), 696896u);
    EXPECT_EQ(out.substr(0, pool.size()), pool);
    EXPECT_EQ(out.substr(out.size() - 32), old.substr(0, 32));

    // Any old file of at least 32 bytes will do.
    fs.Put(kOld, old.substr(0, 32));
    ASSERT_EQ(Patch(), 0);
    EXPECT_EQ(fs.Text(kNew).substr(696896 - 32), old.substr(0, 32));
}

TEST_F(PatcherTest, CompressedPayloadRebuildsTheSameFile) {
    fs.Put(kOld, "ABCDEFGHIJKL");
    const auto script = MakeScript(4, {1, -1, 2, -2}, {6, 3}, "wxyz12345678");
    store.Add(1, script);
    const std::vector<std::uint8_t> packed = PackPayload(script);
    ASSERT_TRUE(IsHfContainer(packed));
    store.Add(2, packed);

    ASSERT_EQ(Patch(1), 0);
    const std::string plain = fs.Text(kNew);
    EXPECT_EQ(plain, "GHIJwxyzDEFGHIJK12345678");
    ASSERT_EQ(Patch(2), 0);
    EXPECT_EQ(fs.Text(kNew), plain);
}

TEST_F(PatcherTest, PlainScriptWithHfRunCountIsTakenForAContainer) {
    // As a plain script these are valid: zero entries only. But the run
    // count's low word, 17,992, reads as the magic "HF", so the payload goes
    // to the container decoder, which finds no sound container in it.
    fs.Put(kOld, "ABCD");
    for (std::int32_t runs : {17992, 17992 + 65536}) {
        SCOPED_TRACE(runs);
        const auto script = MakeScript(4, std::vector<std::int16_t>(runs, 0), {});
        ScriptView view;
        ASSERT_EQ(ScriptView::Parse(script, &view), ScriptError::Ok);
        ASSERT_TRUE(IsHfContainer(script));
        store.Add(kId, script);
        EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
        ExpectEmptyNewFileAndNothingHeld();
    }
}

TEST_F(PatcherTest, PayloadIdUsesOnlyItsLow16Bits) {
    fs.Put(kOld, "ABCD");
    store.Add(137, MakeScript(4, {1}, {0}));
    EXPECT_EQ(Patch(137 + 0x10000), 0);
    EXPECT_EQ(fs.Text(kNew), "ABCD");
}

// --- Results and what each failure leaves behind ----------------------------

TEST_F(PatcherTest, OldFileThatCannotBeOpenedGives10AndCreatesNothing) {
    store.Add(kId, MakeScript(4, {}, {}));
    EXPECT_EQ(Patch(), IDS_EXE_IN_USE);  // missing
    fs.Put(kOld, "ABCD");
    fs.unreadable.insert(kOld);
    EXPECT_EQ(Patch(), IDS_EXE_IN_USE);  // held by another program
    EXPECT_FALSE(fs.Has(kNew));
    ExpectNothingHeld();
}

TEST_F(PatcherTest, NewFileThatCannotBeCreatedGives11) {
    fs.Put(kOld, "ABCD");
    store.Add(kId, MakeScript(4, {}, {}));
    fs.uncreatable.insert(kNew);
    EXPECT_EQ(Patch(), IDS_TEMP_CREATE_FAILED);
    EXPECT_FALSE(fs.Has(kNew));
    ExpectNothingHeld();
}

TEST_F(PatcherTest, MissingPayloadGives12AndAnEmptyNewFile) {
    fs.Put(kOld, "ABCD");
    fs.Put(kNew, "left over from an earlier run");
    store.Add(kId + 1, MakeScript(4, {1}, {0}));
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();
}

TEST_F(PatcherTest, DamagedContainerGives12NotOutOfMemory) {
    fs.Put(kOld, "ABCDEFGH");
    std::vector<std::uint8_t> packed = PackPayload(MakeScript(4, {2, -1}, {0}, "wxyz"));
    ASSERT_TRUE(IsHfContainer(packed));

    std::vector<std::uint8_t> truncated(packed.begin(), packed.end() - 1);
    store.Add(kId, truncated);
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();

    // An unpacked size far beyond what the container could hold.
    std::vector<std::uint8_t> inflated = packed;
    StoreLe32(inflated.data() + 4, 0x7FFFFFF0u);
    store.Add(kId, inflated);
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();
}

TEST_F(PatcherTest, ScriptsThatBreakTheirBoundsGive12) {
    fs.Put(kOld, "ABCDEFGH");
    struct Case {
        const char* what;
        std::vector<std::uint8_t> script;
    };
    std::vector<Case> cases = {
        {"header cut short", std::vector<std::uint8_t>(19, 0)},
        {"unit size 0", MakeScript(Header(1, 0, 1, 1, 0), {1}, {0})},
        {"negative unit size", MakeScript(Header(1, -4, 1, 1, 0), {1}, {0})},
        {"negative run count", MakeScript(Header(0, 4, -1, 0, 0), {}, {})},
        {"run list past the end", MakeScript(Header(1, 4, 3, 0, 0), {0, 0}, {})},
        {"offset list past the end", MakeScript(Header(1, 4, 1, 2, 0), {1}, {0})},
        {"pool past the end", MakeScript(Header(2, 4, 1, 0, 2), {-2}, {}, "wxyz123")},
        {"pool bytes overflow 32 bits",
         MakeScript(Header(1, 0x7FFFFFFF, 1, 0, 0xFFFFFFFF), {-1}, {})},
        {"run of -32768", MakeScript(Header(1, 4, 1, 0, 1), {-32768}, {}, "wxyz")},
        {"copy run without an offset", MakeScript(Header(2, 4, 2, 1, 0), {1, 1}, {0})},
        {"literal runs beyond the pool", MakeScript(Header(2, 4, 2, 0, 1), {-1, -1}, {}, "wxyz")},
        {"copy run beyond the old image", MakeScript(4, {1}, {5})},
        // Refused before the literal run ahead of it is written.
        {"copy run beyond the old image after a literal", MakeScript(4, {-1, 1}, {5}, "wxyz")},
        {"copy run far beyond the old image", MakeScript(4, {32767}, {0xFFFFFFFF})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.Add(kId, c.script);
        EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
        ExpectEmptyNewFileAndNothingHeld();
    }
}

TEST_F(PatcherTest, CopyRunMayReachIntoTheZeroPaddingButNoFurther) {
    store.Add(kId, MakeScript(4, {1}, {4}));  // needs the image to reach byte 8
    fs.Put(kOld, "ABCDEFGH");
    EXPECT_EQ(Patch(), 0);
    EXPECT_EQ(fs.Text(kNew), "EFGH");
    fs.Put(kOld, "ABCDEFG");  // 7 bytes still make two units
    EXPECT_EQ(Patch(), 0);
    EXPECT_EQ(fs.Text(kNew), std::string("EFG\0", 4));
    fs.Put(kOld, "ABCD");  // one unit: too short for this script
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();
}

// The patcher keeps what a publisher needs to know about a failure: which
// block of a payload cut short lies past its end, and which copy run reaches
// past an old file, by how much.
TEST_F(PatcherTest, PayloadCutShortNamesWhereItEnds) {
    fs.Put(kOld, "ABCDEFGH");
    // Three stored blocks of 5, 7 and 9 bytes: their headers are at bytes 24,
    // 24 + 13 and 24 + 13 + 15.
    testing::ContainerBuilder container(21);
    container.Stored(Bytes(5, 'a')).Stored(Bytes(7, 'b')).Stored(Bytes(9, 'c'));
    const Bytes whole = container.bytes();
    for (const std::size_t cut : {std::size_t{3}, std::size_t{9 + 4}}) {
        SCOPED_TRACE(cut);
        store.Add(kId, Bytes(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
        ExpectEmptyNewFileAndNothingHeld();
        const PatchCause& cause = patcher.Cause();
        EXPECT_EQ(cause.fault, PatchFault::PayloadUndecodable);
        EXPECT_EQ(cause.decode, DecodeStatus::HfBlockPastEnd);
        EXPECT_EQ(DescribePatchCause(cause),
                  "the payload does not decode: Huffman stage failed: HF block reaches past the "
                  "end of the container (block 2 at byte 52)");
    }

    // A plain script cut short: its pool is what reaches past the end.
    const Bytes plain = MakeScript(4, {-2}, {}, "wxyz1234");
    store.Add(kId, Bytes(plain.begin(), plain.end() - 3));
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    EXPECT_EQ(patcher.Cause().fault, PatchFault::ScriptRefused);
    EXPECT_EQ(DescribePatchCause(patcher.Cause()),
              "the payload's script is damaged: literal pool reaches past the end: it ends at "
              "byte 30, the script at byte 27");
}

TEST_F(PatcherTest, OldFileTooShortSaysByHowMuchAndNamesTheFirstRunPastIt) {
    // Ten bytes make an image of three units (12 bytes). Run 2 copies two
    // units from byte 6 and needs 14; run 3 fits; run 4 needs 16, the most.
    fs.Put(kOld, "ABCDEFGHIJ");
    store.Add(kId, MakeScript(4, {1, -1, 2, 1, 1}, {0, 6, 2, 12}, "wxyz"));
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();
    const PatchCause& cause = patcher.Cause();
    EXPECT_EQ(cause.fault, PatchFault::OldFileTooShort);
    EXPECT_EQ(cause.run, 2);
    EXPECT_EQ(DescribePatchCause(cause),
              "the old file is 4 bytes too short: the script copies up to byte 16, the old file "
              "holds 12 in whole units; copy run 2 is the first to reach past its end");
}

TEST_F(PatcherTest, ReadOfNMinusOneUnitsIsAcceptedButFewerGive12) {
    fs.Put(kOld, "ABCDEFGHIJKLMNOP");  // exactly 4 units
    store.Add(kId, MakeScript(4, {1, 1}, {0, 12}));
    fs.readLimit = 12;  // 3 of 4 units arrive: accepted, the rest stays zero
    EXPECT_EQ(Patch(), 0);
    EXPECT_EQ(fs.Text(kNew), std::string("ABCD\0\0\0\0", 8));
    fs.readLimit = 8;  // 2 of 4
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();
    EXPECT_EQ(patcher.Cause().fault, PatchFault::OldFileReadShort);
    EXPECT_EQ(DescribePatchCause(patcher.Cause()), "the old file reads short: 2 of 4 units");
}

TEST_F(PatcherTest, UntellableOrHugeOldFile) {
    fs.Put(kOld, "ABCD");
    store.Add(kId, MakeScript(4, {1}, {0}));
    fs.lengthOverride = -1;
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectEmptyNewFileAndNothingHeld();
    fs.lengthOverride = std::int64_t{3} << 30;  // 3 GiB cannot be held
    EXPECT_EQ(Patch(), IDS_OUT_OF_MEMORY);
    ExpectEmptyNewFileAndNothingHeld();
}

int allocationsLeft = 0;
void* FailingAllocator(std::size_t count, std::size_t size) {
    if (allocationsLeft-- <= 0) return nullptr;
    return std::calloc(count, size);
}

TEST_F(PatcherTest, EachBlockThatCannotBeAllocatedGives13) {
    // The blocks are allocated in the order run list, offset list, literal
    // pool, old image; let each of them fail in turn.
    fs.Put(kOld, "ABCDEFGH");
    store.Add(kId, MakeScript(4, {1, -1}, {4}, "wxyz"));
    DiffPatcher failing(fs, store, &FailingAllocator);
    for (int succeed = 0; succeed < 4; ++succeed) {
        SCOPED_TRACE(succeed);
        allocationsLeft = succeed;
        EXPECT_EQ(failing.Patch(kOld, kNew, kId), IDS_OUT_OF_MEMORY);
        EXPECT_TRUE(fs.Get(kNew).empty());
        EXPECT_FALSE(failing.HoldsBlocks());
        EXPECT_FALSE(failing.HoldsFiles());
        EXPECT_EQ(fs.openInputs + fs.openOutputs, 0);
    }
    allocationsLeft = 4;
    EXPECT_EQ(failing.Patch(kOld, kNew, kId), 0);
    EXPECT_EQ(fs.Text(kNew), "EFGHwxyz");
}

TEST_F(PatcherTest, ShortWriteGives12AfterEveryRunIsAttempted) {
    fs.Put(kOld, "ABCDEFGHIJKL");
    store.Add(kId, MakeScript(4, {1, -1, 2, 1, -2}, {6, 1, 0}, "wxyz12345678"));

    // The third write stores nothing; the runs after it still land, from the
    // positions they would have had.
    fs.failingWrite = 3;
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    EXPECT_EQ(fs.writeCalls, 5);
    EXPECT_EQ(fs.Text(kNew), "GHIJwxyzABCD12345678");
    ExpectNothingHeld();
    EXPECT_EQ(DescribePatchCause(patcher.Cause()),
              "the new file writes short: run 2 wrote 0 of 2 units");

    // A disk that fills after 10 bytes: every run is still attempted.
    fs.failingWrite.reset();
    fs.writeCalls = 0;
    fs.diskSpace = 10;
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    EXPECT_EQ(fs.writeCalls, 5);
    EXPECT_EQ(fs.Text(kNew), "GHIJwxyzBC");
    ExpectNothingHeld();
    // The first short run is named; the two after it are counted.
    EXPECT_EQ(DescribePatchCause(patcher.Cause()),
              "the new file writes short: run 2 wrote 0 of 2 units, and 2 later run(s) wrote "
              "short too");

    // Room again: the next Patch succeeds and keeps no cause.
    fs.diskSpace.reset();
    EXPECT_EQ(Patch(), 0);
    EXPECT_EQ(patcher.Cause().fault, PatchFault::None);
}

TEST_F(PatcherTest, FailedCloseOfTheNewFileGives12) {
    fs.Put(kOld, "ABCD");
    store.Add(kId, MakeScript(4, {1}, {0}));
    fs.failClose = true;
    EXPECT_EQ(Patch(), IDS_UPDATE_FAILED);
    ExpectNothingHeld();
    EXPECT_EQ(patcher.Cause().fault, PatchFault::CloseFailed);
}

TEST_F(PatcherTest, SamePathForOldAndNewFails) {
    // Creating the new file empties the old one before it is measured, so
    // the copy run finds nothing to copy.
    fs.Put(kOld, "ABCDEFGH");
    store.Add(kId, MakeScript(4, {1}, {0}));
    EXPECT_EQ(patcher.Patch(kOld, kOld, kId), IDS_UPDATE_FAILED);
    EXPECT_TRUE(fs.Get(kOld).empty());
    ExpectNothingHeld();
}

// --- States -------------------------------------------------------------------

TEST_F(PatcherTest, LoadApplyCloseStates) {
    fs.Put(kOld, "ABCDEFGHIJ");
    store.Add(kId, MakeScript(Header(99, 4, 3, 1, 2), {1, -2, 0}, {2}, "wxyz1234"));

    // Empty: nothing to apply.
    EXPECT_FALSE(patcher.HoldsFiles());
    EXPECT_EQ(patcher.Apply(), IDS_UPDATE_FAILED);
    EXPECT_EQ(fs.writeCalls, 0);
    patcher.Close();  // harmless

    // Loaded: both files open, all blocks held, header as stored.
    ASSERT_EQ(patcher.Load(kOld, kNew, kId), 0);
    EXPECT_EQ(fs.openInputs, 1);
    EXPECT_EQ(fs.openOutputs, 1);
    EXPECT_TRUE(patcher.HoldsFiles());
    EXPECT_TRUE(patcher.HoldsBlocks());
    EXPECT_EQ(patcher.Header().newUnitCount, 99u);  // kept, not checked
    EXPECT_EQ(patcher.Header().unitSize, 4);
    EXPECT_EQ(patcher.Header().runCount, 3);
    EXPECT_EQ(patcher.Header().copyCount, 1u);
    EXPECT_EQ(patcher.Header().literalCount, 2u);
    EXPECT_EQ(patcher.OldUnitCount(), 3);
    EXPECT_TRUE(fs.Get(kNew).empty());

    // Written: unchanged holdings, every run in the new file.
    EXPECT_EQ(patcher.Apply(), 0);
    EXPECT_TRUE(patcher.HoldsFiles());
    EXPECT_TRUE(patcher.HoldsBlocks());
    EXPECT_EQ(fs.Text(kNew), "CDEFwxyz1234");

    // Closed: nothing held.
    patcher.Close();
    ExpectNothingHeld();
    patcher.Close();
    ExpectNothingHeld();
}

TEST_F(PatcherTest, PatcherServesASecondPatchAndReleasesOnDestruction) {
    fs.Put(kOld, "ABCDEFGH");
    store.Add(1, MakeScript(4, {1}, {4}));
    store.Add(2, MakeScript(4, {-1, 1}, {0}, "wxyz"));
    EXPECT_EQ(Patch(1), 0);
    EXPECT_EQ(fs.Text(kNew), "EFGH");
    EXPECT_EQ(Patch(2), 0);
    EXPECT_EQ(fs.Text(kNew), "wxyzABCD");

    // A second Load drops what the first one held.
    ASSERT_EQ(patcher.Load(kOld, kNew, 1), 0);
    ASSERT_EQ(patcher.Load(kOld, kNew, 2), 0);
    EXPECT_EQ(fs.openInputs, 1);
    EXPECT_EQ(fs.openOutputs, 1);
    patcher.Close();

    {
        DiffPatcher scoped(fs, store);
        ASSERT_EQ(scoped.Load(kOld, kNew, 1), 0);
        EXPECT_EQ(fs.openInputs, 1);
    }
    EXPECT_EQ(fs.openInputs, 0);
    EXPECT_EQ(fs.openOutputs, 0);
}

}  // namespace
}  // namespace morivane
