// The payload maker: the unit size it chooses, the stored form, the figures it
// gives, and the read-back through the patcher that every payload passes.
#include "tools/builder/make_payload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "tests/support/file_pairs.h"
#include "tests/support/script_checks.h"
#include "tools/builder/readback.h"

namespace morivane {
namespace {

using testing::Bytes;
using testing::Random;

// Machine code in two versions: scattered changes, and new text between the
// old code (which makes a pool that packs well).
struct CodePair {
    CodePair() {
        const Bytes edited = testing::Edited(old, 41, 200);
        for (std::size_t at = 0; at < edited.size(); at += 4000) {
            const Bytes text = testdata::Text(1000, static_cast<std::uint32_t>(at));
            neu.insert(neu.end(), text.begin(), text.end());
            neu.insert(
                neu.end(), edited.begin() + static_cast<std::ptrdiff_t>(at),
                edited.begin() + static_cast<std::ptrdiff_t>(std::min(at + 4000, edited.size())));
        }
    }
    Bytes old = testdata::MachineCode(96000, 40);
    Bytes neu;
};

Bytes ScriptOf(const Bytes& payload) {
    if (!IsHfContainer(payload)) return payload;
    const ByteBuffer script = HfLzssUnpack(payload);
    return Bytes(script.span().begin(), script.span().end());
}

MakeResult MakeAndCheck(const Bytes& old, const Bytes& neu, const MakeOptions& options = {}) {
    MakeResult made = MakePayload(old, neu, options);
    EXPECT_EQ(made.status, MakeStatus::Ok) << made.message;
    EXPECT_EQ(made.plain, !IsHfContainer(made.payload));
    testing::ExpectSoundScript(old, neu, ScriptOf(made.payload),
                               static_cast<int>(made.report.unitSize));
    return made;
}

TEST(MakePayload, PackedPayloadUnpacksToTheBuiltScript) {
    const CodePair pair;
    const MakeResult made = MakeAndCheck(pair.old, pair.neu);
    ASSERT_FALSE(made.plain);
    const Bytes built = BuildScript(pair.old, pair.neu, static_cast<int>(made.report.unitSize));
    EXPECT_EQ(ScriptOf(made.payload), built);
    EXPECT_EQ(made.scriptBytes, built.size());
}

TEST(MakePayload, TriesEveryUnitThatDividesTheNewFileAndKeepsTheSmallestPayload) {
    const CodePair pair;
    Bytes neu = pair.neu;
    ASSERT_GE(neu.size(), 96000u);
    neu.resize(96000);  // = 2^8 * 3 * 5^3: divided by 1-6, 8, 10, 12, 15, 16, 20, 24, 25, 30, 32
    const MakeResult made = MakeAndCheck(pair.old, neu);
    std::vector<std::uint32_t> flat, compressing;
    for (const UnitTrial& t : made.trials)
        (t.poolCompresses ? compressing : flat).push_back(t.unit);
    const std::vector<std::uint32_t> divisors{1,  2,  3,  4,  5,  6,  8,  10,
                                              12, 15, 16, 20, 24, 25, 30, 32};
    EXPECT_EQ(flat, divisors);
    EXPECT_EQ(compressing, divisors);

    // The best plan of each model by its own estimate was made; the one kept
    // is the smallest of those made, and it is what came out.
    for (bool compresses : {false, true}) {
        const UnitTrial* best = nullptr;
        for (const UnitTrial& t : made.trials) {
            if (t.poolCompresses == compresses &&
                (best == nullptr || t.estimatedBytes < best->estimatedBytes)) {
                best = &t;
            }
        }
        ASSERT_NE(best, nullptr);
        EXPECT_GT(best->payloadBytes, 0u) << compresses;
    }
    std::size_t made_count = 0, kept = 0, smallest = SIZE_MAX;
    for (const UnitTrial& t : made.trials) {
        if (t.payloadBytes == 0) continue;
        ++made_count;
        smallest = std::min(smallest, t.payloadBytes);
        if (t.kept) {
            ++kept;
            EXPECT_EQ(t.payloadBytes, made.payload.size());
            EXPECT_EQ(t.unit, made.report.unitSize);
        }
    }
    EXPECT_GE(made_count, 2u);
    EXPECT_LE(made_count, 3u);
    EXPECT_EQ(kept, 1u);
    EXPECT_EQ(made.payload.size(), smallest);
}

TEST(MakePayload, LargeUnitsWinWhereTheyNeedFewerRuns) {
    // Identical files of 2,560,000 bytes: 79 copy runs of at most 32,767 bytes
    // at U = 1, 3 at U = 32 (the largest unit that divides the length).
    const Bytes old = Random(32 * 80000, 42);
    const MakeResult made = MakeAndCheck(old, old);
    EXPECT_EQ(made.report.unitSize, 32u);
    EXPECT_EQ(made.report.runCount, 3u);
}

TEST(MakePayload, ForcedUnitIsTheOnlyOneTried) {
    const CodePair pair;
    Bytes neu = pair.neu;
    neu.resize(neu.size() / 32 * 32);
    const MakeResult made = MakeAndCheck(pair.old, neu, {.unit = 32});
    EXPECT_EQ(made.report.unitSize, 32u);
    for (const UnitTrial& t : made.trials) EXPECT_EQ(t.unit, 32u);
}

TEST(MakePayload, FilesOfAnyLengthNeedNoUnit) {
    const Bytes old = testdata::MachineCode(20011, 43);  // a prime number of bytes
    for (std::size_t size : {0u, 1u, 20011u, 20021u}) {
        SCOPED_TRACE(size);
        Bytes neu = testing::Edited(old, 44, 20);
        neu.resize(size, 0x90);
        MakeAndCheck(old, neu);
        MakeAndCheck({}, neu);
    }
}

TEST(MakePayload, NewContentThatDoesNotCompressIsStoredPlain) {
    // Random new bytes come out larger packed (9-bit literals) than as they are.
    const Bytes old = Random(10000, 45);
    const Bytes neu = testing::Concat({Random(50000, 46), testing::Slice(old, 0, 5000)});
    const MakeResult plain = MakeAndCheck(old, neu);
    EXPECT_TRUE(plain.plain);
    EXPECT_EQ(plain.payload.size(), plain.scriptBytes);
    for (const UnitTrial& t : plain.trials) {
        if (t.payloadBytes > 0) {
            EXPECT_GE(t.payloadBytes, plain.payload.size());
        }
    }
    // Asked for, the container is made all the same.
    const MakeResult packed = MakeAndCheck(old, neu, {.form = StoredForm::Packed});
    EXPECT_FALSE(packed.plain);
    EXPECT_GT(packed.payload.size(), plain.payload.size());
}

TEST(MakePayload, AccountSaysWhereEveryByteGoes) {
    const CodePair pair;
    const MakeResult made = MakeAndCheck(pair.old, pair.neu);
    const PayloadAccount& a = made.account;
    ASSERT_EQ(a.parts.size(), static_cast<std::size_t>(kScriptParts));
    const BuildReport& r = made.report;
    EXPECT_EQ(a.parts[kHeaderPart].scriptBytes, 20u);
    EXPECT_EQ(a.parts[kRunListPart].scriptBytes, 2u * r.runCount);
    EXPECT_EQ(a.parts[kOffsetListPart].scriptBytes, 4u * r.copyCount);
    EXPECT_EQ(a.parts[kPoolPart].scriptBytes, std::uint64_t{r.literalUnits} * r.unitSize);
    double stream = a.otherStreamBytes, container = a.otherContainerBytes;
    std::uint64_t script = 0;
    for (const PartFigures& p : a.parts) {
        script += p.scriptBytes;
        stream += p.streamBytes;
        container += p.containerBytes;
        EXPECT_GT(p.streamBytes, 0);
    }
    EXPECT_EQ(script, made.scriptBytes);
    EXPECT_DOUBLE_EQ(stream, static_cast<double>(a.streamBytes));
    EXPECT_DOUBLE_EQ(container, static_cast<double>(made.payload.size()));
    EXPECT_EQ(a.containerBytes, made.payload.size());
    EXPECT_GE(a.blocks, 1u);
}

TEST(MakePayload, NewFileOfPartialUnitsNamesUnitsThatDivideIt) {
    MakeResult made = MakePayload(Bytes(100), Bytes(1000), {.unit = 32}, "'b.til'");
    EXPECT_EQ(made.status, MakeStatus::NewNotWholeUnits);
    EXPECT_NE(made.message.find("'b.til' is 1000 bytes"), std::string::npos) << made.message;
    EXPECT_NE(made.message.find("--unit 25 or --unit 8 or --unit 1"), std::string::npos)
        << made.message;

    // 1000 = 2^3 * 5^3: 25 is the largest divisor up to 32, 8 the largest
    // power of two. 1001 = 7 * 11 * 13 is odd. 4096 is whole units of 32.
    EXPECT_EQ(SuggestUnits(1000), (std::vector<int>{25, 8, 1}));
    EXPECT_EQ(SuggestUnits(1001), (std::vector<int>{13, 1}));
    EXPECT_EQ(SuggestUnits(4096), (std::vector<int>{32, 1}));
    EXPECT_EQ(SuggestUnits(1021), (std::vector<int>{1}));  // a prime
}

TEST(ReadBack, NamesWhatThePatcherGetsWrong) {
    const CodePair pair;
    MakeResult made = MakeAndCheck(pair.old, pair.neu, {.form = StoredForm::Plain});
    ASSERT_TRUE(made.plain);
    ASSERT_GT(made.report.literalUnits, 0u);
    EXPECT_EQ(ReadBack(pair.old, pair.neu, made.payload), "");

    Bytes wrong = made.payload;
    wrong.back() ^= 0x01;  // the pool's last byte, the new file's last literal byte
    EXPECT_NE(ReadBack(pair.old, pair.neu, wrong).find("differs from the new file"),
              std::string::npos);
    Bytes shorter = pair.neu;
    shorter.pop_back();
    EXPECT_NE(ReadBack(pair.old, shorter, made.payload).find("instead of"), std::string::npos);
    EXPECT_NE(ReadBack(pair.old, pair.neu, Bytes(10)).find("message 12"), std::string::npos);
}

}  // namespace
}  // namespace morivane
