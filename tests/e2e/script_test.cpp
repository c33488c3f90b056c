// The driver's step scripts and transcript quoting: code page 932 bytes,
// where a double-byte character may end in 0x5C, the byte of '\'.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/e2e/driver/script.h"

namespace morivane::e2e {
namespace {

// "表" and "ソ" in code page 932 both end in 0x5C.
const std::string kHyou = "\x95\x5c";
const std::string kSo = "\x83\x5c";

TEST(QuoteText, KeepsReadableTextAndEscapesTheRest) {
    EXPECT_EQ(QuoteText("OK"), "\"OK\"");
    EXPECT_EQ(QuoteText("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(QuoteText("1\n2\r\t"), "\"1\\n2\\r\\t\"");
    // Halfwidth katakana (ｷｬﾝｾﾙ) are single bytes 0xA1-0xDF and stay.
    EXPECT_EQ(QuoteText("\xb7\xac\xdd\xbe\xd9"), "\"\xb7\xac\xdd\xbe\xd9\"");
    // Bytes that are no character of their own.
    EXPECT_EQ(QuoteText(std::string("\x00\x1f\x7f\x80\xa0\xfd\xff", 7)),
              "\"\\x00\\x1f\\x7f\\x80\\xa0\\xfd\\xff\"");
}

TEST(QuoteText, TreatsDoubleByteCharactersWhole) {
    // The trail byte 0x5C of a double-byte character is not a backslash.
    EXPECT_EQ(QuoteText(kHyou + kSo + "\\"), "\"" + kHyou + kSo + "\\\\\"");
    // A lead byte with no trail byte after it is escaped, and what follows
    // it is read on its own.
    EXPECT_EQ(QuoteText("a\x95"), "\"a\\x95\"");
    EXPECT_EQ(QuoteText("\x95\n"), "\"\\x95\\n\"");
    // 95 95 is a character; the 5C after it stands alone and is escaped.
    EXPECT_EQ(QuoteText("\x95\x95\x5c"), "\"\x95\x95\\\\\"");
    EXPECT_EQ(QuoteText("\xfc\x40"), "\"\xfc\x40\"");
}

TEST(ParseScript, SplitsLinesIntoWords) {
    const ParsedScript s = ParseScript(
        "# comment line\r\n"
        "start A C:\\update\\x.exe hang\r\n"
        "\n"
        "   \t\n"
        "make-window \"Morivane\x81\x40\\x81\\x60\\\"x\\\"\"  # trailing comment\n"
        "wait-box");
    ASSERT_TRUE(s.error.empty()) << s.error;
    ASSERT_EQ(s.steps.size(), 3u);
    EXPECT_EQ(s.steps[0].line, 2);
    EXPECT_EQ(s.steps[0].words,
              (std::vector<std::string>{"start", "A", "C:\\update\\x.exe", "hang"}));
    EXPECT_EQ(s.steps[1].line, 5);
    EXPECT_EQ(s.steps[1].words,
              (std::vector<std::string>{"make-window", "Morivane\x81\x40\x81\x60\"x\""}));
    EXPECT_EQ(s.steps[2].line, 6);
    EXPECT_EQ(s.steps[2].words, (std::vector<std::string>{"wait-box"}));
}

TEST(ParseScript, KeepsTrailBytesInsideQuotes) {
    // "表n" must stay three bytes, not become 0x95 and a line feed; "ソ" right
    // before the closing quote must not escape it.
    const ParsedScript s = ParseScript("x \"" + kHyou + "n" + kSo + "\" \"\\\\\" \"\"");
    ASSERT_TRUE(s.error.empty()) << s.error;
    ASSERT_EQ(s.steps.size(), 1u);
    EXPECT_EQ(s.steps[0].words, (std::vector<std::string>{"x", kHyou + "n" + kSo, "\\", ""}));
}

TEST(ParseScript, RejectsMalformedLines) {
    const struct {
        std::string text;
        int line;
    } cases[] = {
        {"ok\nx \"open", 2}, {"x \"\\q\"", 1}, {"x \"\\x4\"", 1},        {"x \"\\xg0\"", 1},
        {"\n\nab\"c\"", 3},  {"x \"a\"b", 1},  {"x \"" + kHyou + "", 1}, {"x \"a\\", 1},
    };
    for (const auto& c : cases) {
        const ParsedScript s = ParseScript(c.text);
        EXPECT_FALSE(s.error.empty()) << c.text;
        EXPECT_EQ(s.errorLine, c.line) << c.text;
        EXPECT_TRUE(s.steps.empty()) << c.text;
    }
}

TEST(QuoteAndParse, RoundTripAnyBytes) {
    // A transcript line written by QuoteText reads back as the same bytes,
    // whatever they are, so expected transcripts can state any text exactly.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::mt19937 random(932);
    std::vector<std::string> inputs = {all, std::string(all.rbegin(), all.rend()), ""};
    for (int i = 0; i < 500; ++i) {
        std::string s(random() % 24, '\0');
        for (char& c : s) c = static_cast<char>(random() % 256);
        inputs.push_back(s);
    }
    for (const auto& input : inputs) {
        const std::string quoted = QuoteText(input);
        for (unsigned char c : quoted) ASSERT_TRUE(c != '\n' && c != '\r');
        const ParsedScript s = ParseScript("w " + quoted);
        ASSERT_TRUE(s.error.empty()) << s.error;
        ASSERT_EQ(s.steps.size(), 1u);
        ASSERT_EQ(s.steps[0].words.size(), 2u);
        EXPECT_EQ(s.steps[0].words[1], input);
    }
}

}  // namespace
}  // namespace morivane::e2e
