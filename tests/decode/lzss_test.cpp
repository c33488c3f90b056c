#include "decode/lzss.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/bit_writer.h"

namespace morivane {
namespace {

using testing::BitStream;
using Bytes = std::vector<std::uint8_t>;

Bytes Expand(const Bytes& stream, DecodeStatus* status = nullptr) {
    ByteBuffer out = LzssExpand(stream, status);
    if (!out) return Bytes{0xEE, 0xEE, 0xEE};  // sentinel no test expects
    return Bytes(out.data(), out.data() + out.size());
}

// Ends a stream the way every stored stream ends: the extra tail byte, End.
Bytes Finish(BitStream& w) {
    w.Literal(0x00);
    w.End();
    return w.bytes();
}

TEST(LzssExpand, KnownStreamPrefixDecodesLiteralsAndAShortMatch) {
    // c8 64 e0 10 09 00 00 c2: literals 90 93 00 00 20, a match from position
    // 3 with length code 0 (two bytes: 00 00), then the start of literal 00.
    BitStream w;
    for (std::uint8_t b : {0xC8, 0x64, 0xE0, 0x10, 0x09, 0x00, 0x00, 0xC2}) w.Put(b, 8);
    w.Put(0, 7);  // rest of the literal 00
    w.Literal(0x41);
    const Bytes stream = Finish(w);
    EXPECT_EQ(Expand(stream), (Bytes{0x90, 0x93, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x41}));
}

TEST(LzssExpand, OverlappingMatchRepeatsWhatItJustProduced) {
    BitStream w;
    w.Literal('a');
    w.Literal('b');
    w.Match(1, 17);  // starts two positions back: abab...
    const Bytes out = Expand(Finish(w));
    EXPECT_EQ(std::string(out.begin(), out.end()), "abababababababababa");
}

TEST(LzssExpand, EveryMatchLengthFromTwoToSeventeen) {
    const std::string alphabet = "abcdefghijklmnopq";
    BitStream w;
    std::string expected = alphabet;
    for (char c : alphabet) w.Literal(static_cast<std::uint8_t>(c));
    for (int length = 2; length <= 17; ++length) {
        w.Match(1, length);
        expected += alphabet.substr(0, length);
    }
    const Bytes out = Expand(Finish(w));
    EXPECT_EQ(std::string(out.begin(), out.end()), expected);
}

TEST(LzssExpand, MatchReachesBackAFullWindowOnceItHasWrapped) {
    BitStream w;
    std::string expected;
    for (int i = 0; i < 4096; ++i) {
        const auto c = static_cast<char>('A' + i % 23);
        w.Literal(static_cast<std::uint8_t>(c));
        expected += c;
    }
    // The current position is back at 1, which still holds the first byte.
    w.Match(1, 3);
    expected += expected.substr(0, 3);
    // Window index 0 was written by the 4096th byte; a match can reach it from 4095.
    w.Match(4095, 2);
    expected += expected.substr(4094, 1) + expected.substr(4095, 1);
    const Bytes out = Expand(Finish(w));
    EXPECT_EQ(std::string(out.begin(), out.end()), expected);
}

TEST(LzssExpand, TailByteOnlyGivesAValidEmptyResult) {
    BitStream w;
    DecodeStatus status = DecodeStatus::OutOfMemory;
    ByteBuffer out = LzssExpand(Finish(w), &status);
    EXPECT_TRUE(out);
    EXPECT_EQ(out.size(), 0);
    EXPECT_EQ(status, DecodeStatus::Ok);
}

TEST(LzssExpand, RejectsDamagedStreams) {
    struct Case {
        const char* name;
        Bytes stream;
        DecodeStatus expected;
    };
    std::vector<Case> cases;
    {
        BitStream w;
        w.End();
        cases.push_back({"first token is End", w.bytes(), DecodeStatus::LzssNothingProduced});
    }
    cases.push_back({"empty input", {}, DecodeStatus::LzssTruncated});
    {
        BitStream w;
        w.Literal('x');
        w.Match(5, 2);  // position 5 was never written
        cases.push_back(
            {"copy of an unwritten position", Finish(w), DecodeStatus::LzssUnwrittenCopy});
    }
    {
        BitStream w;
        w.Match(1, 2);  // nothing written at all
        cases.push_back({"copy before any byte", Finish(w), DecodeStatus::LzssUnwrittenCopy});
    }
    {
        BitStream w;
        w.Literal('x');
        w.Match(1, 3);  // reads 1, then 2 (just written), then 3 (just written)
        w.Match(3, 3);  // 3 and 4 are written; 5 is written by this copy itself
        w.Match(9, 2);  // 9 is not written yet
        cases.push_back(
            {"copy past what overlap produced", Finish(w), DecodeStatus::LzssUnwrittenCopy});
    }
    for (const Case& c : cases) {
        DecodeStatus status = DecodeStatus::Ok;
        EXPECT_FALSE(LzssExpand(c.stream, &status)) << c.name;
        EXPECT_EQ(status, c.expected) << c.name;
    }
}

TEST(LzssExpand, EveryCutBeforeTheEndIsTruncatedNeverFatal) {
    BitStream w;
    for (int i = 0; i < 40; ++i) w.Literal(static_cast<std::uint8_t>(i * 7));
    w.Match(3, 17);
    w.Match(10, 5);
    const Bytes stream = Finish(w);
    ASSERT_EQ(Expand(stream).size(), 40u + 17u + 5u);
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        const Bytes part(stream.begin(), stream.begin() + cut);
        DecodeStatus status = DecodeStatus::Ok;
        EXPECT_FALSE(LzssExpand(part, &status)) << "cut at " << cut;
        EXPECT_EQ(status, DecodeStatus::LzssTruncated) << "cut at " << cut;
    }
}

TEST(LzssExpand, SameStreamTwiceGivesTheSameResult) {
    BitStream w;
    for (int i = 0; i < 5000; ++i) w.Literal(static_cast<std::uint8_t>(i * 31 + 7));
    w.Match(100, 17);
    const Bytes stream = Finish(w);
    const Bytes first = Expand(stream);
    EXPECT_EQ(Expand(stream), first);
    EXPECT_EQ(first.size(), 5017u);
}

TEST(LzssExpand, RandomInputNeverReadsOutOfBounds) {
    // Run under the sanitizer build this catches any stray access; natively it
    // checks that every outcome is a clean success or a named failure.
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes input(rng() % 64);
        for (auto& b : input) b = static_cast<std::uint8_t>(rng());
        DecodeStatus status = DecodeStatus::Ok;
        ByteBuffer out = LzssExpand(input, &status);
        EXPECT_EQ(static_cast<bool>(out), status == DecodeStatus::Ok);
        if (out) {
            EXPECT_LE(out.size(), static_cast<std::int32_t>(input.size() * 8));
        }
    }
}

}  // namespace
}  // namespace morivane
