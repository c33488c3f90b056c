// The script builder, checked through the patcher: every script it makes must
// parse with consistent counts, hold no 0 entry and no run over 32,767 units,
// and rebuild its new file byte for byte. Where the best script for a pair is
// known from how the pair was made, its shape is checked too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "patch/diff_patcher.h"
#include "patch/sabunn_script.h"
#include "platform/memory_payload_store.h"
#include "tests/support/file_pairs.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/script_checks.h"
#include "tools/builder/make_payload.h"
#include "tools/builder/script_builder.h"

namespace morivane {
namespace {

using testing::Bytes;
using testing::Concat;
using testing::OffsetsOf;
using testing::Random;
using testing::RunsOf;
using testing::Slice;

// Builds, then checks everything every script must satisfy and that the report
// repeats the header; returns the script's view (valid while `holder` lives).
ScriptView BuildAndCheck(const Bytes& old, const Bytes& neu, int unit, Bytes* holder,
                         const BuildOptions& options = {}) {
    BuildReport report;
    *holder = BuildScript(old, neu, unit, options, &report);
    EXPECT_EQ(report.status, BuildStatus::Ok);
    const ScriptView v = testing::ExpectSoundScript(old, neu, *holder, unit);
    EXPECT_EQ(report.runCount, static_cast<std::uint32_t>(v.Header().runCount));
    EXPECT_EQ(report.copyCount, v.Header().copyCount);
    EXPECT_EQ(report.literalUnits, v.Header().literalCount);
    return v;
}

// --- pairs whose best script is known ---------------------------------------

TEST(ScriptBuilder, IdenticalFilesAreOneCopySplitAtTheRunLimit) {
    const Bytes old = Random(32768 * 32, 1);  // one unit more than a run holds
    Bytes script;
    const ScriptView v = BuildAndCheck(old, old, 32, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{32767, 1}));
    EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{0, 32767 * 32}));
    EXPECT_EQ(v.Header().literalCount, 0u);
}

TEST(ScriptBuilder, RunsOfSingleBytesStopAtTheRunLimitToo) {
    // U = 1: a copy or literal run holds at most 32,767 bytes. (One byte more
    // to copy would cost an entry and an offset; carried, it costs less.)
    const Bytes old = Random(32767 + 100, 30);
    Bytes script;
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Slice(old, 0, 32767), 1, &script)),
              (std::vector<int>{32767}));
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Slice(old, 0, 32767 + 10), 1, &script)),
              (std::vector<int>{32767, 10}));
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Slice(old, 0, 32767 + 1), 1, &script)),
              (std::vector<int>{32767, -1}));
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Random(32767, 31), 1, &script)),
              (std::vector<int>{-32767}));
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Random(32768, 31), 1, &script)),
              (std::vector<int>{-32767, -1}));
}

TEST(ScriptBuilder, OneUnitAndOddLengthFiles) {
    const Bytes old = Random(5000, 32);
    // One unit: copied when it is in the old file, carried otherwise.
    Bytes script;
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Slice(old, 77, 1), 1, &script)), (std::vector<int>{-1}));
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Slice(old, 77, 32), 32, &script)), (std::vector<int>{1}));
    EXPECT_EQ(RunsOf(BuildAndCheck(old, Random(32, 33), 32, &script)), (std::vector<int>{-1}));
    // 4,999 bytes (a prime): units of 1 byte, a changed byte in the middle.
    Bytes neu = Slice(old, 1, 4999);
    neu[2500] ^= 0x55;
    const ScriptView v = BuildAndCheck(old, neu, 1, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{2500, -1, 2498}));
    EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{1, 2502}));
}

TEST(ScriptBuilder, CopiesFromAnyByteOffset) {
    const Bytes old = Random(64 * 1024 + 40, 2);
    for (std::uint32_t shift : {1u, 16u, 31u, 33u}) {
        SCOPED_TRACE(shift);
        const Bytes neu = Slice(old, shift, 64 * 1024);
        Bytes script;
        const ScriptView v = BuildAndCheck(old, neu, 32, &script);
        EXPECT_EQ(RunsOf(v), (std::vector<int>{2048}));
        EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{shift}));
    }
}

TEST(ScriptBuilder, UnrelatedFilesAreAllLiteralSplitAtTheRunLimit) {
    const Bytes old = Random(100000, 3);
    const Bytes neu = Random(40000 * 32, 4);
    Bytes script;
    const ScriptView v = BuildAndCheck(old, neu, 32, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{-32767, -(40000 - 32767)}));
    EXPECT_EQ(v.Header().copyCount, 0u);
}

TEST(ScriptBuilder, EmptyOrTinyOldFileGivesLiterals) {
    const Bytes neu = Random(320, 5);
    for (std::size_t oldSize : {0u, 1u, 31u}) {
        SCOPED_TRACE(oldSize);
        Bytes script;
        const ScriptView v = BuildAndCheck(Slice(neu, 0, oldSize), neu, 32, &script);
        EXPECT_EQ(RunsOf(v), (std::vector<int>{-10}));
    }
}

TEST(ScriptBuilder, EmptyNewFileGivesAnEmptyScript) {
    Bytes script;
    const ScriptView v = BuildAndCheck(Random(1000, 6), {}, 32, &script);
    EXPECT_EQ(script.size(), static_cast<std::size_t>(kScriptHeaderSize));
    EXPECT_EQ(v.Header().runCount, 0);
}

TEST(ScriptBuilder, DeletedBlockCostsAtMostTheUnitAcrossTheCut) {
    const Bytes old = Random(3200 + 32 * 20, 7);
    // Cut at a unit boundary: two copies and nothing else. Cut inside a unit:
    // the unit holding the cut matches nowhere and is carried literally.
    for (std::size_t cut : {1600u, 1610u}) {
        SCOPED_TRACE(cut);
        const std::size_t gone = 32 * 20;
        const Bytes neu = Concat({Slice(old, 0, cut), Slice(old, cut + gone, 3200 - cut)});
        Bytes script;
        const ScriptView v = BuildAndCheck(old, neu, 32, &script);
        if (cut % 32 == 0) {
            EXPECT_EQ(RunsOf(v), (std::vector<int>{50, 50}));
            EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{0, 1600 + 640}));
        } else {
            EXPECT_EQ(RunsOf(v), (std::vector<int>{50, -1, 49}));
            EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{0, 1632 + 640}));
        }
    }
}

TEST(ScriptBuilder, InsertedBlockBecomesOneLiteralRun) {
    const Bytes old = Random(32 * 200, 8);
    // 100 new bytes after unit 60: units 60..63 of the new file hold them (and
    // the 28 old bytes that complete unit 63); the rest is old shifted by 100.
    const Bytes neu =
        Concat({Slice(old, 0, 60 * 32), Random(100, 9), Slice(old, 60 * 32, 100 * 32 - 100)});
    Bytes script;
    const ScriptView v = BuildAndCheck(old, neu, 32, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{60, -4, 96}));
    EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{0, 64 * 32 - 100}));
}

TEST(ScriptBuilder, RepeatedAndAdjacentSourcesKeepTheirOwnOffsets) {
    const Bytes old = Random(32 * 1000, 10);
    // Two unrelated sources back to back, then the first one again.
    const Bytes neu =
        Concat({Slice(old, 5000, 320), Slice(old, 20016, 320), Slice(old, 5000, 320)});
    Bytes script;
    const ScriptView v = BuildAndCheck(old, neu, 32, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{10, 10, 10}));
    EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{5000, 20016, 5000}));
}

TEST(ScriptBuilder, PrefersTheCandidateWithTheLongestRun) {
    // The new file's first unit occurs three times in the old one; only the
    // last occurrence goes on to match all four units.
    const Bytes neu = Random(128, 11);
    const Bytes noise = Random(4096, 12);
    const Bytes old = Concat({Slice(noise, 0, 100), Slice(neu, 0, 32), Slice(noise, 100, 77),
                              Slice(neu, 0, 64), Slice(noise, 200, 50), neu, Slice(noise, 300, 9)});
    Bytes script;
    const ScriptView v = BuildAndCheck(old, neu, 32, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{4}));
    EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{100 + 32 + 77 + 64 + 50}));
}

TEST(ScriptBuilder, AmongEqualCandidatesTakesTheLowestOffset) {
    const Bytes unit = Random(32, 13);
    const Bytes old = Concat({Random(50, 14), unit, Random(70, 15), unit, Random(10, 16)});
    Bytes script;
    const ScriptView v = BuildAndCheck(old, unit, 32, &script);
    EXPECT_EQ(OffsetsOf(v), (std::vector<std::uint32_t>{50}));
}

TEST(ScriptBuilder, OldFileOfPartialUnitsIsReadOnlyUpToItsEnd) {
    // The old file ends 20 bytes into a unit; its last whole window is copied,
    // the short tail cannot be (the patcher would pad it with zeros).
    const Bytes old = Random(32 * 10 + 20, 17);
    const Bytes neu = Concat({Slice(old, 20, 320), Slice(old, 320, 20), Bytes(12, 0)});
    Bytes script;
    const ScriptView v = BuildAndCheck(old, neu, 32, &script);
    EXPECT_EQ(RunsOf(v), (std::vector<int>{10, -1}));
}

TEST(ScriptBuilder, OtherUnitSizesRoundTrip) {
    const Bytes old = Random(20000, 18);
    Bytes neu =
        Concat({Slice(old, 3, 4000), Random(1000, 19), Slice(old, 9000, 6000), Slice(old, 3, 999)});
    for (int unit : {1, 2, 4, 7, 64, 1000}) {
        SCOPED_TRACE(unit);
        Bytes n = neu;
        n.resize(n.size() / static_cast<std::size_t>(unit) * static_cast<std::size_t>(unit));
        Bytes script;
        const ScriptView v = BuildAndCheck(old, n, unit, &script);
        // Most of the new file is old content and must be found as such.
        EXPECT_LT(v.Header().literalCount * static_cast<std::uint32_t>(unit), 1000u + 2u * 1000u);
    }
}

TEST(ScriptBuilder, TinyUnitsTakeNoCopyThatCostsMoreThanItSaves) {
    // Two changed bytes with k unchanged ones between. Apart, they cost two
    // literal runs and a copy (3 entries, an offset, 2 bytes: 9 bytes by the
    // default costs); together one literal run of k + 2 bytes and its entry.
    const Bytes old = Random(1000, 20);
    for (std::size_t k : {5u, 7u}) {
        SCOPED_TRACE(k);
        Bytes neu = old;
        neu[500] ^= 0xFF;
        neu[501 + k] ^= 0xFF;
        Bytes script;
        const ScriptView v = BuildAndCheck(old, neu, 1, &script);
        if (k < 6) {
            EXPECT_EQ(RunsOf(v),
                      (std::vector<int>{500, -static_cast<int>(k + 2), 498 - static_cast<int>(k)}));
        } else {
            EXPECT_EQ(RunsOf(v), (std::vector<int>{500, -1, static_cast<int>(k), -1,
                                                   498 - static_cast<int>(k)}));
        }
    }
}

TEST(ScriptBuilder, RepetitiveFilesStayCorrect) {
    // Long runs of equal windows fill the hash chains.
    Bytes old(300000, 0);
    for (std::size_t i = 0; i < old.size(); i += 4096) old[i] = static_cast<std::uint8_t>(i >> 12);
    Bytes neu = Concat({Bytes(200000, 0), Slice(old, 4090, 40960), Bytes(32 * 100, 0xAA)});
    neu.resize(neu.size() / 32 * 32);
    Bytes script;
    const ScriptView v = BuildAndCheck(old, neu, 32, &script);
    EXPECT_LE(v.Header().literalCount, 100u + 2u);
}

TEST(ScriptBuilder, IsDeterministic) {
    const Bytes old = Random(50000, 23);
    const Bytes neu = Concat({Random(3200, 24), Slice(old, 7, 32000)});
    EXPECT_EQ(BuildScript(old, neu, 32), BuildScript(old, neu, 32));
}

TEST(ScriptBuilder, RefusesBadInput) {
    BuildReport report;
    EXPECT_TRUE(BuildScript(Bytes(64), Bytes(64), 0, {}, &report).empty());
    EXPECT_EQ(report.status, BuildStatus::BadUnit);
    EXPECT_TRUE(BuildScript(Bytes(64), Bytes(33), 32, {}, &report).empty());
    EXPECT_EQ(report.status, BuildStatus::NewNotWholeUnits);
}

// --- run counts that read as the HF magic -----------------------------------

// A pair whose script is 17,992 runs of one unit each, copy and literal in
// turn (copies from scattered offsets so that none continues another); with
// `longFirst` the first copy run is two units long.
void MagicRunCountPair(bool longFirst, Bytes* old, Bytes* neu) {
    *old = Random(32 * 40000, 25);
    const Bytes fresh = Random(32 * 9000, 26);
    neu->clear();
    for (std::size_t i = 0; i < 17992 / 2; ++i) {
        const std::size_t from = (i * 4 + 1) * 32 + (i % 7);
        const std::size_t units = i == 0 && longFirst ? 2 : 1;
        neu->insert(neu->end(), old->begin() + from, old->begin() + from + units * 32);
        neu->insert(neu->end(), fresh.begin() + i * 32, fresh.begin() + i * 32 + 32);
    }
}

TEST(ScriptBuilderPlain, MagicRunCountIsReadAsAContainerUnlessAdjusted) {
    for (bool longFirst : {false, true}) {
        SCOPED_TRACE(longFirst);
        Bytes old, neu;
        MagicRunCountPair(longFirst, &old, &neu);

        // As built for packing: R = 17,992, and the patcher takes it for HF.
        const Bytes raw = BuildScript(old, neu, 32);
        ScriptView v;
        ASSERT_EQ(ScriptView::Parse(raw, &v), ScriptError::Ok);
        ASSERT_EQ(v.Header().runCount, 17992);
        EXPECT_TRUE(IsHfContainer(raw));
        EXPECT_NE(testing::ApplyPayload(old, raw).result, 0);

        // Built to be stored plain: one run more (a split) or one fewer (the
        // first two one-unit runs merged into a literal run).
        BuildOptions plain;
        plain.plainStorable = true;
        BuildReport report;
        Bytes script;
        const ScriptView adjusted = BuildAndCheck(old, neu, 32, &script, plain);
        (void)BuildScript(old, neu, 32, plain, &report);
        EXPECT_TRUE(report.runCountAdjusted);
        EXPECT_EQ(adjusted.Header().runCount, longFirst ? 17993 : 17991);
        EXPECT_FALSE(IsHfContainer(script));
    }
}

TEST(ScriptBuilderPlain, MakeRefusesOrAdjustsAndSaysSo) {
    Bytes old, neu;
    MagicRunCountPair(false, &old, &neu);
    MakeOptions options;
    options.form = StoredForm::Plain;
    options.adjustRunCount = false;
    MakeResult refused = MakePayload(old, neu, options);
    EXPECT_EQ(refused.status, MakeStatus::PlainLooksLikeHf);
    EXPECT_TRUE(refused.payload.empty());
    EXPECT_NE(refused.message.find("--plain"), std::string::npos) << refused.message;

    options.adjustRunCount = true;
    MakeResult made = MakePayload(old, neu, options);
    ASSERT_EQ(made.status, MakeStatus::Ok) << made.message;
    EXPECT_NE(made.message.find("split"), std::string::npos) << made.message;
    EXPECT_EQ(testing::ApplyPayload(old, made.payload).rebuilt, neu);

    // Packed, the count does not matter and stays as built.
    options.form = StoredForm::Packed;
    MakeResult packed = MakePayload(old, neu, options);
    ASSERT_EQ(packed.status, MakeStatus::Ok) << packed.message;
    EXPECT_EQ(packed.report.runCount, 17992u);
    EXPECT_TRUE(packed.message.empty());
}

}  // namespace
}  // namespace morivane
