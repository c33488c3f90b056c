// Well-formed version resources that probe the FileVersion lookup's rules,
// each with the result that the Win32 sequence (first translation, then its
// FileVersion, a length of 0 failing) gives. The unit tests check the reader
// against these; the Wine test also checks them against the Win32 calls.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pe/version_info.h"
#include "tests/support/pe_test_support.h"

namespace morivane::petest {

struct VersionCase {
    const char* what;
    VNode root;
    std::optional<std::string> version;
    VersionStatus status;  // Ok when `version` is set
    bool onWin32 = true;   // false: Win32 reads past the value, or gives code page bytes
};

inline std::vector<VersionCase> VersionCases() {
    const VNode japanese = Translations({{0x0411, 0x04B0}});
    auto only = [&](VNode fileVersion) {
        return VersionRoot(
            {Table(u"041104B0", {Text(u"CompanyName", u"KESTRON"), std::move(fileVersion)})},
            japanese);
    };
    auto withLength = [](std::uint16_t units) {
        VNode n = Text(u"FileVersion", u"1, 0, 0, 1");
        n.valueLength = units;
        return n;
    };
    VNode halfEntry = Translations({{0x0411, 0x04B0}});
    halfEntry.value.resize(2);
    VNode hollowEntry = Translations({});
    hollowEntry.valueLength = 4;  // a length whose bytes the block lacks
    using S = VersionStatus;
    return {
        {"tables stored in the opposite order to the translations",
         VersionRoot({Table(u"040904E4", {Text(u"FileVersion", u"9, 9, 9, 9")}),
                      Table(u"041104B0", {Text(u"FileVersion", u"1, 0, 0, 1")})},
                     Translations({{0x0411, 0x04B0}, {0x0409, 0x04E4}})),
         "1, 0, 0, 1", S::Ok},
        {"first translation without a table: no fallback to the second",
         VersionRoot({Table(u"041104B0", {Text(u"FileVersion", u"1, 0, 0, 1")})},
                     Translations({{0x0409, 0x04E4}, {0x0411, 0x04B0}})),
         std::nullopt, S::NoFileVersion},
        {"first translation's table without FileVersion: no other table",
         VersionRoot({Table(u"041104B0", {Text(u"ProductName", u"Morivane")}),
                      Table(u"041104E4", {Text(u"FileVersion", u"1, 0, 0, 1")})},
                     japanese),
         std::nullopt, S::NoFileVersion},
        {"keys compare without case",
         VersionRoot({Table(u"041104b0", {Text(u"fileVERSION", u"1, 0, 0, 2")})}, japanese),
         "1, 0, 0, 2", S::Ok},
        {"keys compare in full",
         VersionRoot({Table(u"041104B0", {Text(u"FileVersio", u"a"), Text(u"FileVersionX", u"b"),
                                          Text(u"FileVersion", u"c")})},
                     japanese),
         "c", S::Ok},
        {"a table key one digit short",
         VersionRoot({Table(u"041104B", {Text(u"FileVersion", u"x")})}, japanese), std::nullopt,
         S::NoFileVersion},
        {"key digits with leading zeros and letters",
         VersionRoot({Table(u"0009FDE9", {Text(u"FileVersion", u"odd key")})},
                     Translations({{0x0009, 0xFDE9}})),
         "odd key", S::Ok},
        {"length 0 fails", only(withLength(0)), std::nullopt, S::EmptyFileVersion},
        {"length shorter than the text", only(withLength(4)), "1, 0", S::Ok},
        {"length past the block, cut at its end", only(withLength(40)), "1, 0, 0, 1", S::Ok},
        {"just a NUL is length 1: empty text", only(Text(u"FileVersion", u"")), "", S::Ok},
        {"cut at the first NUL", only(Text(u"FileVersion", std::u16string(u"1, 0\0x", 6))), "1, 0",
         S::Ok},
        {"no NUL at all", only(VNode{u"FileVersion", 1, Utf16(u"1, 0, 0, 1", false), {}, {}, {}}),
         "1, 0, 0, 1", S::Ok},
        {"a binary value is handed over up to its first NUL byte",
         only(VNode{u"FileVersion", 0, {'1', '.', '2', 0, '9'}, {}, {}, {}}), "1.2", S::Ok},
        {"no translation entries",
         VersionRoot({Table(u"041104B0", {Text(u"FileVersion", u"1")})}, Translations({})),
         std::nullopt, S::NoTranslation},
        {"half a translation entry",
         VersionRoot({Table(u"041104B0", {Text(u"FileVersion", u"1")})}, halfEntry), std::nullopt,
         S::NoTranslation, false},  // Win32 reads past the value
        {"a translation length without bytes",
         VersionRoot({Table(u"041104B0", {Text(u"FileVersion", u"1")})}, hollowEntry), std::nullopt,
         S::NoTranslation, false},
        {"text beyond ASCII comes back as UTF-8",
         only(Text(u"FileVersion", u"\u7B2C1\u7248 \U0001F600")), "\u7B2C1\u7248 \U0001F600", S::Ok,
         false},
    };
}

}  // namespace morivane::petest
