#include "pe/version_info.h"

#include <gtest/gtest.h>

#include "pe/utf16.h"
#include "tests/support/pe_test_support.h"
#include "tests/pe/version_cases.h"

namespace morivane {
namespace {

using namespace petest;

VNode Japanese(const std::u16string& fileVersion) {
    return Table(u"041104B0",
                 {Text(u"CompanyName", u"KESTRON"), Text(u"FileVersion", fileVersion)});
}

std::optional<std::string> Version(const VNode& root, VersionStatus* status = nullptr) {
    const Bytes block = Serialize(root);
    return ReadFileVersion(block, status);
}

TEST(VersionLookup, FollowsTheWin32Rules) {
    for (const VersionCase& c : VersionCases()) {
        VersionStatus status = VersionStatus::Malformed;
        EXPECT_EQ(Version(c.root, &status), c.version) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
    EXPECT_EQ(FileVersionPath({0x0411, 0x04B0}), "\\StringFileInfo\\041104B0\\FileVersion");
    const Bytes block = Serialize(VersionRoot({}, Translations({{0x0009, 0xFDE9}, {1, 2}})));
    const auto t = ReadFirstTranslation(block);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->language, 0x0009);
    EXPECT_EQ(t->codePage, 0xFDE9);
}

TEST(VersionLookup, QueryWalksPathsLikeVerQueryValue) {
    const Bytes block =
        Serialize(VersionRoot({Japanese(u"1, 0, 0, 1")}, Translations({{0x0411, 0x04B0}})));
    VersionStatus status = VersionStatus::Malformed;
    // The root's value is the 52-byte fixed part.
    for (const char* root : {"", "\\", "\\\\"}) {
        const auto value = QueryVersionValue(block, root, &status);
        ASSERT_TRUE(value) << root;
        EXPECT_EQ(value->length, 52);
        EXPECT_FALSE(value->isText);
        ASSERT_EQ(value->bytes.size(), 52u);
        EXPECT_EQ(LoadLe32(value->bytes.data()), 0xFEEF04BDu);
    }
    // Doubled and trailing backslashes are skipped.
    const auto company = QueryVersionValue(block, "\\\\StringFileInfo\\041104B0\\\\CompanyName\\");
    ASSERT_TRUE(company);
    EXPECT_TRUE(company->isText);
    EXPECT_EQ(company->length, 8);  // "KESTRON" and its NUL, in units
    EXPECT_EQ(Utf16LeToUtf8(company->bytes.first(14)), "KESTRON");
    EXPECT_FALSE(QueryVersionValue(block, "\\StringFileInfo\\041104B0\\Nothing", &status));
    EXPECT_EQ(status, VersionStatus::NotFound);
    EXPECT_FALSE(QueryVersionValue(block, "\\VS_VERSION_INFO", &status));
    EXPECT_EQ(status, VersionStatus::NotFound);
}

TEST(VersionLookup, DamagedBlocksAreRejected) {
    VersionStatus status = VersionStatus::Ok;
    const VNode good = VersionRoot({Japanese(u"1, 0, 0, 1")}, Translations({{0x0411, 0x04B0}}));
    const Bytes block = Serialize(good);
    ASSERT_EQ(ReadFileVersion(block), "1, 0, 0, 1");

    // Cut anywhere: the root's length then exceeds the data.
    for (std::size_t n = 0; n < block.size(); ++n) {
        const Bytes cut(block.begin(), block.begin() + n);
        EXPECT_FALSE(ReadFileVersion(cut, &status)) << n;
        EXPECT_EQ(status, VersionStatus::Malformed) << n;
    }

    auto damaged = [&](auto change) {
        VNode root = good;
        change(root);
        return Version(root, &status) ? VersionStatus::Ok : status;
    };
    // A child that does not advance, or runs past its parent.
    EXPECT_EQ(damaged([](VNode& r) { r.children[0].length = 0; }), VersionStatus::Malformed);
    EXPECT_EQ(damaged([](VNode& r) { r.children[0].length = 5; }), VersionStatus::Malformed);
    EXPECT_EQ(damaged([](VNode& r) { r.children[0].children[0].length = 0x7000; }),
              VersionStatus::Malformed);
    EXPECT_EQ(damaged([](VNode& r) { r.children[1].children[0].length = 0xFFFF; }),
              VersionStatus::Malformed);
    // A key with no NUL inside its block.
    EXPECT_EQ(damaged([](VNode& r) { r.children[0].children[0].children[0].length = 12; }),
              VersionStatus::Malformed);
    // The 16-bit form (an ANSI key where wType belongs).
    EXPECT_EQ(damaged([](VNode& r) { r.type = 'V'; }), VersionStatus::Malformed);
    // A root longer than the resource.
    Bytes longRoot = block;
    StoreLe16(longRoot.data(), static_cast<std::uint16_t>(block.size() + 4));
    EXPECT_FALSE(ReadFileVersion(longRoot, &status));
    EXPECT_EQ(status, VersionStatus::Malformed);
    // A block that ends early leaves its later children out: not found.
    EXPECT_EQ(damaged([](VNode& r) { r.children[0].children[0].length = 24; }),
              VersionStatus::NoFileVersion);
}

TEST(Utf16Text, ConvertsAndMeasures) {
    EXPECT_EQ(Utf16LeToUtf8(Utf16(u"A\u00E9\u30BD", false)), "A\u00E9\u30BD");
    EXPECT_EQ(Utf16LeToUtf8(Utf16(u"\U00010348", false)), "\U00010348");
    // Unpaired surrogates, either half, and an odd trailing byte.
    const Bytes lone = {0x00, 0xD8, 'x', 0, 0x00, 0xDC, 'y'};
    EXPECT_EQ(Utf16LeToUtf8(lone), "\uFFFDx\uFFFD");
    EXPECT_EQ(Utf16LeLength(Utf16(u"abc")), 3u);
    EXPECT_EQ(Utf16LeLength(Utf16(u"abc", false)), 3u);
    EXPECT_EQ(Utf16LeLength(Bytes{}), 0u);
}

}  // namespace
}  // namespace morivane
