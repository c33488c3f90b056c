// The decoders against the reference decoders on many seeded inputs:
// well-formed ones (which must also give their known content), damaged ones,
// random bytes, and every input of up to two bytes. Agreement means that both
// fail, or both give the same bytes.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "decode/hf.h"
#include "decode/lzss.h"
#include "tests/support/bit_writer.h"
#include "tests/support/decode_differential.h"
#include "tests/support/decode_inputs.h"

namespace morivane {
namespace {

using testing::BitStream;
using testing::Bytes;
using testing::DecodeInputs;

Bytes Contents(const ByteBuffer& out) {
    return out ? Bytes(out.data(), out.data() + out.size()) : Bytes{0xEE, 0xEE};
}

// Counts the decoder's outcomes, so that a test can show its inputs reach
// every kind of failure it means to compare.
class Outcomes {
  public:
    void Add(DecodeStatus status) { ++counts_[status]; }
    void ExpectSeen(std::initializer_list<DecodeStatus> statuses) const {
        for (DecodeStatus s : statuses) {
            EXPECT_GT(counts_.count(s), 0u) << "no input ended in: " << DecodeStatusName(s);
        }
    }

  private:
    std::map<DecodeStatus, int> counts_;
};

DecodeStatus LzssStatus(const Bytes& stream) {
    DecodeStatus status = DecodeStatus::Ok;
    LzssExpand(stream, &status);
    return status;
}

DecodeStatus HfLzssStatus(const Bytes& container) {
    DecodeStatus status = DecodeStatus::Ok;
    HfLzssUnpack(container, &status);
    return status;
}

TEST(LzssAgreement, WellFormedStreamsGiveTheirContent) {
    for (std::uint32_t seed = 0; seed < 300; ++seed) {
        DecodeInputs inputs(seed);
        // A few long streams go round the window many times.
        const auto sample = inputs.LzssStream(seed < 12 ? 6000 : 1 + inputs.Below(300));
        DecodeStatus status = DecodeStatus::HfOvershoot;
        const ByteBuffer out = LzssExpand(sample.stream, &status);
        ASSERT_EQ(status, DecodeStatus::Ok) << "seed " << seed;
        ASSERT_EQ(Contents(out), sample.content) << "seed " << seed;
        ASSERT_EQ(testing::DiffLzssExpand(sample.stream), "") << "seed " << seed;
    }
}

TEST(LzssAgreement, DamagedStreamsAndStrayPositionsFailAlike) {
    Outcomes outcomes;
    for (std::uint32_t seed = 0; seed < 3000; ++seed) {
        DecodeInputs inputs(seed);
        const bool stray = seed % 2 == 0;
        auto sample = inputs.LzssStream(1 + inputs.Below(seed % 10 == 0 ? 3000 : 60), stray);
        const Bytes stream = stray ? sample.stream : inputs.Damage(sample.stream);
        outcomes.Add(LzssStatus(stream));
        ASSERT_EQ(testing::DiffLzssExpand(stream), "") << "seed " << seed;
    }
    outcomes.ExpectSeen({DecodeStatus::Ok, DecodeStatus::LzssTruncated,
                         DecodeStatus::LzssUnwrittenCopy, DecodeStatus::LzssNothingProduced});
}

TEST(LzssAgreement, EveryInputOfUpToTwoBytes) {
    ASSERT_EQ(testing::DiffLzssExpand({}), "");
    for (std::uint32_t v = 0; v < 0x10000; ++v) {
        const std::uint8_t bytes[] = {static_cast<std::uint8_t>(v >> 8),
                                      static_cast<std::uint8_t>(v)};
        ASSERT_EQ(testing::DiffLzssExpand({bytes, 1}), "") << v;
        ASSERT_EQ(testing::DiffLzssExpand({bytes, 2}), "") << v;
    }
}

// After c bytes, a match from each window position: the positions this
// stream has written and those it has not meet where the distance back
// exceeds c, and wrap once c reaches the window's size.
TEST(LzssAgreement, MatchesFromEveryPositionAfterTheFirstBytes) {
    for (std::uint32_t produced :
         {0u, 1u, 2u, 3u, 15u, 16u, 17u, 18u, 200u, 4094u, 4095u, 4096u, 4097u}) {
        testing::BitStream lead;
        for (std::uint32_t i = 0; i < produced; ++i) {
            lead.Literal(static_cast<std::uint8_t>(i * 37 + i / 256));
        }
        for (std::uint32_t position = 1; position < 4096; ++position) {
            // Near the window's size only the edges and a sample between.
            if (produced > 200 && position > 40 && position < 4056 && position % 97 != 0) continue;
            testing::BitStream w = lead;
            w.Match(position, 17);
            w.Literal(0);
            w.End();
            ASSERT_EQ(testing::DiffLzssExpand(w.bytes()), "") << produced << " " << position;
        }
    }
}

TEST(HfAgreement, WellFormedContainersGiveTheirContent) {
    for (std::uint32_t seed = 0; seed < 400; ++seed) {
        DecodeInputs inputs(seed);
        // An LZSS stream inside, as in a payload, or bytes that code like one.
        const auto stream = inputs.LzssStream(1 + inputs.Below(seed < 10 ? 20000 : 400));
        Bytes content;
        switch (seed % 3) {
            case 0:
                content = stream.stream;
                break;
            case 1:
                content = inputs.SkewedBytes(inputs.Below(2000));
                break;
            default:
                content = inputs.RandomBytes(inputs.Below(600));
        }
        const auto container = inputs.Container(content);
        DecodeStatus status = DecodeStatus::HfOvershoot;
        ASSERT_EQ(Contents(HfUnpack(container.bytes, &status)), content) << "seed " << seed;
        ASSERT_EQ(status, DecodeStatus::Ok) << "seed " << seed;
        if (seed % 3 == 0) {
            ASSERT_EQ(Contents(HfLzssUnpack(container.bytes)), stream.content) << "seed " << seed;
        }
        ASSERT_EQ(testing::DiffAllDecoders(container.bytes), "") << "seed " << seed;
    }
}

TEST(HfAgreement, DamagedContainersFailAlike) {
    Outcomes outcomes;
    for (std::uint32_t seed = 0; seed < 6000; ++seed) {
        DecodeInputs inputs(seed);
        const auto stream = inputs.LzssStream(1 + inputs.Below(200));
        const auto container = inputs.Container(seed % 2 ? stream.stream : inputs.SkewedBytes(300));
        const Bytes damaged = inputs.DamageContainer(container);
        outcomes.Add(HfLzssStatus(damaged));
        ASSERT_EQ(testing::DiffHfUnpack(damaged), "") << "seed " << seed;
        ASSERT_EQ(testing::DiffHfLzssUnpack(damaged), "") << "seed " << seed;
    }
    outcomes.ExpectSeen({DecodeStatus::Ok, DecodeStatus::HfNotContainer,
                         DecodeStatus::HfImpossibleSize, DecodeStatus::HfBlockPastEnd,
                         DecodeStatus::HfOvershoot, DecodeStatus::HfBadCodeLengths,
                         DecodeStatus::HfUnassignedCode, DecodeStatus::HfCodedDataExhausted,
                         DecodeStatus::LzssTruncated, DecodeStatus::LzssUnwrittenCopy});
}

// Every two bytes of coded data under codes that the lookup table resolves
// alone, codes that are incomplete, and codes longer than the table, with
// nine bytes to produce: as many as the data holds, or more, or fewer.
TEST(HfAgreement, EveryTwoBytesOfCodedDataUnderSeveralCodes) {
    using Code = testing::ContainerBuilder::Code;
    std::vector<std::vector<Code>> codes(4, std::vector<Code>(256));
    codes[0]['a'] = {1, 0b0};  // complete: a b c
    codes[0]['b'] = {2, 0b10};
    codes[0]['c'] = {2, 0b11};
    codes[1]['x'] = {1, 0b1};    // one value, the 0 branch unassigned
    codes[2]['p'] = {3, 0b010};  // incomplete at several depths
    codes[2]['q'] = {4, 0b0110};
    codes[2]['r'] = {2, 0b11};
    for (int s = 0; s < 14; ++s) {  // 1, 01, 001, ... down to fourteen bits
        codes[3][s] = {static_cast<std::uint8_t>(s + 1), 1};
    }
    codes[3][14] = {14, 0};
    constexpr std::uint32_t kProduced = 9;
    for (const auto& code : codes) {
        testing::ContainerBuilder c(kProduced);
        c.Coded(code, {}, kProduced, 16).Raw({0, 0});
        Bytes& bytes = c.bytes();
        for (std::uint32_t v = 0; v < 0x10000; ++v) {
            bytes[bytes.size() - 2] = static_cast<std::uint8_t>(v >> 8);
            bytes[bytes.size() - 1] = static_cast<std::uint8_t>(v);
            ASSERT_EQ(testing::DiffHfUnpack(bytes), "") << v;
        }
    }
}

// Two codes of 255 bits, one all zeros and one all ones, take 510 node
// numbers; "01" takes the 511th, the last the tables hold, and "10" would
// take a 512th. Both decoders accept the first code and refuse the second.
TEST(HfAgreement, CodesAtTheNodeLimit) {
    for (const bool overLimit : {false, true}) {
        BitStream table;
        table.Put(0, 255);
        for (int i = 0; i < 255; ++i) table.PutBit(1);
        table.Put(0b01, 2);
        if (overLimit) table.Put(0b10, 2);
        testing::ContainerBuilder c(1);
        Bytes& bytes = c.bytes();
        testing::AppendLe32(bytes, 2);  // B: one code of two bits
        testing::AppendLe32(bytes, 1);
        Bytes lengths(256, 0);
        lengths[0] = lengths[1] = 255;
        lengths[2] = 2;
        if (overLimit) lengths[3] = 2;
        bytes.insert(bytes.end(), lengths.begin(), lengths.end());
        bytes.insert(bytes.end(), table.bytes().begin(), table.bytes().end());
        bytes.push_back(0x40);  // the code 01: the byte 2
        DecodeStatus status = DecodeStatus::Ok;
        const ByteBuffer out = HfUnpack(bytes, &status);
        EXPECT_EQ(Contents(out), overLimit ? Contents(ByteBuffer{}) : Bytes{2}) << overLimit;
        EXPECT_EQ(status, overLimit ? DecodeStatus::HfBadCodeLengths : DecodeStatus::Ok);
        EXPECT_EQ(testing::DiffHfUnpack(bytes), "") << overLimit;
    }
}

TEST(HfAgreement, RandomBytesBehindAHeader) {
    for (std::uint32_t seed = 0; seed < 4000; ++seed) {
        DecodeInputs inputs(seed);
        testing::ContainerBuilder c(inputs.Below(seed % 2 ? 40 : 4000));
        const Bytes tail = inputs.RandomBytes(inputs.Below(300));
        c.bytes().insert(c.bytes().end(), tail.begin(), tail.end());
        ASSERT_EQ(testing::DiffAllDecoders(c.bytes()), "") << "seed " << seed;
    }
}

}  // namespace
}  // namespace morivane
