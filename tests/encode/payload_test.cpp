#include "tools/encode/payload.h"

#include <gtest/gtest.h>

#include "decode/hf.h"
#include "tests/support/seeded_content.h"
#include "tools/encode/lzss_encode.h"

namespace morivane {
namespace {

using testdata::Bytes;

// Number of blocks a container holds, counted by walking their headers until
// the unpacked size is reached (0 when a header lies past the end).
std::size_t BlockCount(const Bytes& c) {
    if (c.size() < 24) return 0;
    const std::uint64_t unpacked = LoadLe32(c.data() + 4);
    std::uint64_t total = 0;
    std::size_t at = 24, count = 0;
    do {
        if (c.size() - at < 8) return 0;
        const std::uint64_t bits = LoadLe32(c.data() + at);
        const std::uint64_t produced = LoadLe32(c.data() + at + 4);
        if (bits == 0) {
            at += 8 + produced;
        } else {
            if (c.size() - at < 264) return 0;
            std::uint64_t tableBits = 0;
            for (int s = 0; s < 256; ++s) tableBits += c[at + 8 + s];
            at += 264 + (tableBits + 7) / 8 + (bits + 7) / 8;
        }
        total += produced;
        ++count;
    } while (total < unpacked && at <= c.size());
    return at == c.size() ? count : 0;
}

TEST(PackPayload, UnpacksThroughBothStagesToTheScript) {
    for (const auto& [name, script] : testdata::Samples()) {
        SCOPED_TRACE(name);
        const Bytes payload = PackPayload(script);
        ASSERT_TRUE(IsHfContainer(payload));
        // The inner stream is the optimal LZSS stream of the script.
        const ByteBuffer stream = HfUnpack(payload);
        ASSERT_TRUE(stream);
        EXPECT_EQ(Bytes(stream.span().begin(), stream.span().end()), LzssCompress(script));

        DecodeStatus status = DecodeStatus::OutOfMemory;
        const ByteBuffer out = HfLzssUnpack(payload, &status);
        ASSERT_TRUE(out) << DecodeStatusName(status);
        EXPECT_EQ(Bytes(out.span().begin(), out.span().end()), script);
    }
}

TEST(PackPayload, OptionsChooseTheParseAndTheSplit) {
    // Random bytes, a long stretch of zeros, random bytes again. The LZSS
    // stream of the random stretches is 9-bit literals whose bytes are
    // uniform (a Huffman block only adds its tables); the zeros become a train
    // of 17-byte matches that differ only in their positions, whose bytes take
    // few values. So the split codes the middle and stores the rest.
    Bytes script = testdata::Random(60000, 5);
    script.insert(script.end(), 200000, 0x00);
    const Bytes random = testdata::Random(60000, 6);
    script.insert(script.end(), random.begin(), random.end());

    const Bytes split = PackPayload(script);
    const Bytes one = PackPayload(script, {.oneBlock = true});
    const Bytes greedy = PackPayload(script, {.parse = LzssParse::Greedy, .oneBlock = true});
    for (const Bytes* payload : {&split, &one, &greedy}) {
        const ByteBuffer out = HfLzssUnpack(*payload);
        ASSERT_TRUE(out);
        EXPECT_EQ(Bytes(out.span().begin(), out.span().end()), script);
    }
    // One block: the stream of the parse asked for, in a container of 24 + 8
    // + 256 + table + data bytes or 24 + 8 + stream bytes.
    const ByteBuffer greedyStream = HfUnpack(greedy);
    ASSERT_TRUE(greedyStream);
    EXPECT_EQ(Bytes(greedyStream.span().begin(), greedyStream.span().end()),
              LzssCompress(script, {.parse = LzssParse::Greedy}));
    EXPECT_EQ(BlockCount(one), 1u);
    EXPECT_EQ(BlockCount(split), 3u);
    EXPECT_LT(split.size(), one.size());
    EXPECT_LT(one.size(), greedy.size());
}

TEST(PackPayload, AccountChargesEveryByteToItsPart) {
    // Text, random bytes, zeros: parts that LZSS and the Huffman stage treat
    // very differently.
    Bytes script = testdata::Text(30000, 7);
    const Bytes random = testdata::Random(20000, 8);
    script.insert(script.end(), random.begin(), random.end());
    script.insert(script.end(), 200000, 0x00);
    const std::size_t ends[] = {30000, 50000, 250000};
    PayloadAccount a;
    const Bytes payload = PackPayload(script, {}, ends, &a);
    EXPECT_EQ(payload, PackPayload(script));  // accounting changes nothing
    ASSERT_EQ(a.parts.size(), 3u);
    EXPECT_EQ(a.parts[0].scriptBytes, 30000u);
    EXPECT_EQ(a.parts[1].scriptBytes, 20000u);
    EXPECT_EQ(a.parts[2].scriptBytes, 200000u);
    double stream = a.otherStreamBytes, container = a.otherContainerBytes;
    for (const PartFigures& p : a.parts) {
        stream += p.streamBytes;
        container += p.containerBytes;
    }
    const ByteBuffer unpacked = HfUnpack(payload);
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(a.streamBytes, static_cast<std::uint64_t>(unpacked.size()));
    EXPECT_DOUBLE_EQ(stream, static_cast<double>(a.streamBytes));
    EXPECT_EQ(a.containerBytes, payload.size());
    EXPECT_DOUBLE_EQ(container, static_cast<double>(payload.size()));
    EXPECT_EQ(a.blocks, BlockCount(payload));
    // Random bytes are 9-bit literals; zeros a train of 17-byte matches.
    EXPECT_NEAR(a.parts[1].streamBytes, 20000 * 9.0 / 8, 300);  // a few 2-byte matches
    EXPECT_NEAR(a.parts[2].streamBytes, 200000 / 17 * 17.0 / 8, 10);
    // In the container the random part's bytes are stored (8 bits each), the
    // zeros' matches coded in fewer.
    EXPECT_NEAR(a.parts[1].containerBytes, a.parts[1].streamBytes, 2);
    EXPECT_LT(a.parts[2].containerBytes, a.parts[2].streamBytes * 0.95);
    EXPECT_LT(a.parts[0].streamBytes, 30000 * 0.7);
    // The tail byte and End, and the container's headers and tables.
    EXPECT_LT(a.otherStreamBytes, 4);
    EXPECT_GE(a.otherContainerBytes, 24 + 8.0 * a.blocks);
}

TEST(PackPayload, EmptyScriptGivesAValidEmptyScript) {
    const Bytes payload = PackPayload({});
    // Header, one stored block holding the 3-byte stream (coding 3 bytes
    // would cost the 256 code lengths).
    EXPECT_EQ(payload.size(), 24u + 8u + 3u);
    const ByteBuffer out = HfLzssUnpack(payload);
    EXPECT_TRUE(out);
    EXPECT_EQ(out.size(), 0);
}

}  // namespace
}  // namespace morivane
