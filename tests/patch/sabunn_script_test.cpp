#include "patch/sabunn_script.h"

#include <gtest/gtest.h>

#include "tests/support/test_scripts.h"

namespace morivane {
namespace {

using testing::Header;
using testing::MakeScript;

TEST(ScriptViewTest, SummaryOfAMixedScript) {
    // Copy runs 4 @0, 2 @100, 7 @64; literal runs 3 and 1; one zero entry.
    const std::string pool(4 * 32, 'p');
    const auto bytes = MakeScript(32, {4, -3, 2, 0, -1, 7}, {0, 100, 64}, pool);
    ASSERT_EQ(bytes.size(), 20u + 6 * 2 + 3 * 4 + 4 * 32);
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(bytes, &view), ScriptError::Ok);

    const ScriptHeader& h = view.Header();
    EXPECT_EQ(h.newUnitCount, 17u);
    EXPECT_EQ(h.unitSize, 32);
    EXPECT_EQ(h.runCount, 6);
    EXPECT_EQ(h.copyCount, 3u);
    EXPECT_EQ(h.literalCount, 4u);

    const ScriptSummary& s = view.Summary();
    EXPECT_EQ(s.scriptBytes, bytes.size());
    EXPECT_EQ(s.newUnits, 17u);
    EXPECT_EQ(s.newFileBytes, 17u * 32);
    EXPECT_EQ(s.copyRuns, 3u);
    EXPECT_EQ(s.literalRuns, 2u);
    EXPECT_EQ(s.zeroRuns, 1u);
    EXPECT_EQ(s.literalUnits, 4u);
    EXPECT_EQ(s.oldBytesNeeded, 64u + 7 * 32);  // beats 0 + 4*32 and 100 + 2*32
    EXPECT_EQ(s.longestCopyRun, 7);
    EXPECT_EQ(s.longestLiteralRun, 3);
    EXPECT_TRUE(s.IsConsistent(h));

    // The offset list starts at 32, the pool at 44.
    EXPECT_EQ(view.Run(1), -3);
    EXPECT_EQ(view.Offset(1), 100u);
    EXPECT_EQ(view.PoolBytes().data(), bytes.data() + 44);
    EXPECT_EQ(view.PoolBytes().size(), pool.size());
}

TEST(ScriptViewTest, OffsetListAtAnOddWordPosition) {
    // Three runs put the offset list at byte 26, not a multiple of 4.
    const auto bytes = MakeScript(32, {1, 1, 1}, {0x01020304, 0xA0B0C0D0, 7});
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(bytes, &view), ScriptError::Ok);
    EXPECT_EQ(view.OffsetListBytes().data() - bytes.data(), 26);
    EXPECT_EQ(bytes[26], 0x04);  // little-endian on disk
    EXPECT_EQ(view.Offset(0), 0x01020304u);
    EXPECT_EQ(view.Offset(1), 0xA0B0C0D0u);
    EXPECT_EQ(view.Offset(2), 7u);
    EXPECT_EQ(view.Summary().oldBytesNeeded, 0xA0B0C0D0ull + 32);
}

TEST(ScriptViewTest, CountsThatDisagreeAreKeptButNotConsistent) {
    // N' says 5, there are 3 units; K says 2, one copy run uses one offset;
    // L says 2, one unit is used. Nothing is read out of bounds, so it parses.
    const auto bytes = MakeScript(Header(5, 4, 2, 2, 2), {2, -1}, {0, 0}, "wxyz1234");
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(bytes, &view), ScriptError::Ok);
    EXPECT_EQ(view.Summary().newUnits, 3u);
    EXPECT_FALSE(view.Summary().IsConsistent(view.Header()));
}

TEST(ScriptViewTest, BytesAfterThePoolAreIgnored) {
    auto bytes = MakeScript(4, {-1}, {}, "wxyz");
    bytes.push_back(0xEE);
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(bytes, &view), ScriptError::Ok);
    EXPECT_EQ(view.Summary().scriptBytes, bytes.size() - 1);
}

// Each refusal names the first problem, and its fault says where and by how
// much: the run at fault, or where a part ends against the script's size.
TEST(ScriptViewTest, RefusalsNameTheFirstProblem) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        ScriptError error;
        const char* said;
    };
    const Case cases[] = {
        {{}, ScriptError::HeaderTruncated, "script shorter than its 20-byte header (0 bytes)"},
        {std::vector<std::uint8_t>(19, 0), ScriptError::HeaderTruncated,
         "script shorter than its 20-byte header (19 bytes)"},
        {MakeScript(Header(0, 0, 0, 0, 0), {}, {}), ScriptError::BadUnitSize,
         "unit size is not positive"},
        {MakeScript(Header(0, -32, 0, 0, 0), {}, {}), ScriptError::BadUnitSize,
         "unit size is not positive"},
        {MakeScript(Header(0, 4, -1, 0, 0), {}, {}), ScriptError::NegativeRunCount,
         "run count is negative"},
        {MakeScript(Header(0, 4, 0x7FFFFFFF, 0, 0), {}, {}), ScriptError::RunListPastEnd,
         "run list reaches past the end: it ends at byte 4294967314, the script at byte 20"},
        {MakeScript(Header(0, 4, 0, 0xFFFFFFFF, 0), {}, {}), ScriptError::OffsetListPastEnd,
         "offset list reaches past the end: it ends at byte 17179869200, the script at byte 20"},
        {MakeScript(Header(0, 0x7FFFFFFF, 0, 0, 0xFFFFFFFF), {}, {}), ScriptError::PoolPastEnd,
         "literal pool reaches past the end: it ends at byte 9223372030412324885, the script at "
         "byte 20"},
        {MakeScript(Header(2, 4, 1, 0, 2), {-2}, {}, "1234567"), ScriptError::PoolPastEnd,
         "literal pool reaches past the end: it ends at byte 30, the script at byte 29"},
        {MakeScript(Header(1, 4, 2, 0, 1), {0, -32768}, {}, "wxyz"), ScriptError::RunTooLong,
         "run entry -32768 (run 1)"},
        {MakeScript(Header(2, 4, 2, 1, 0), {1, 1}, {0}), ScriptError::TooManyCopyRuns,
         "more copy runs than offsets: run 1 is copy run 2, the offset list holds 1"},
        {MakeScript(Header(3, 4, 2, 0, 2), {-1, -2}, {}, "wxyz1234"), ScriptError::PoolExhausted,
         "literal runs take more units than the pool holds: run 1 takes the literal runs to 3 "
         "units, the pool holds 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ScriptErrorName(c.error));
        ScriptView view;
        ScriptFault fault;
        EXPECT_EQ(ScriptView::Parse(c.bytes, &view, &fault), c.error);
        EXPECT_EQ(fault.error, c.error);
        EXPECT_EQ(DescribeScriptFault(fault), c.said);
        EXPECT_TRUE(view.RunListBytes().empty());
        EXPECT_EQ(view.Header().unitSize, 0);
    }
}

TEST(ScriptViewTest, LongestRunsAtTheLimits) {
    const std::string pool(32767 * 1, 'x');
    const auto bytes = MakeScript(1, {32767, -32767}, {5}, pool);
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(bytes, &view), ScriptError::Ok);
    EXPECT_EQ(view.Summary().longestCopyRun, 32767);
    EXPECT_EQ(view.Summary().longestLiteralRun, 32767);
    EXPECT_EQ(view.Summary().oldBytesNeeded, 5u + 32767);
}

}  // namespace
}  // namespace morivane
