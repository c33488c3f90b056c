// Random old and new files related by small edits, insertions, deletions and
// moved blocks, built with every unit size that divides the new file: the
// patcher must rebuild the new file exactly, and the scripts must keep every
// rule of the format.
#include <gtest/gtest.h>

#include "tests/support/file_pairs.h"
#include "tests/support/script_checks.h"
#include "tools/builder/make_payload.h"
#include "tools/builder/script_builder.h"

namespace morivane {
namespace {

using testing::Bytes;

class BuilderProperty : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(BuilderProperty, EveryUnitRebuildsTheNewFile) {
    const std::uint32_t seed = GetParam();
    testdata::Rng rng(seed);
    const std::size_t size = 1 + rng.Below(6000);
    const Bytes old =
        rng.Below(2) ? testdata::MachineCode(size, seed) : testing::Random(size, seed);
    const Bytes neu = testing::Edited(old, seed + 1000, 1 + static_cast<int>(rng.Below(30)));
    for (int unit = 1; unit <= 32; ++unit) {
        if (neu.size() % static_cast<std::size_t>(unit) != 0) continue;
        SCOPED_TRACE(unit);
        const Bytes script = BuildScript(old, neu, unit);
        testing::ExpectSoundScript(old, neu, script, unit);
    }
    const MakeResult made = MakePayload(old, neu, {});
    ASSERT_EQ(made.status, MakeStatus::Ok) << made.message;
    const testing::Applied applied = testing::ApplyPayload(old, made.payload);
    EXPECT_EQ(applied.result, 0);
    EXPECT_TRUE(applied.rebuilt == neu);
}

INSTANTIATE_TEST_SUITE_P(Seeds, BuilderProperty, ::testing::Range(1u, 41u));

}  // namespace
}  // namespace morivane
