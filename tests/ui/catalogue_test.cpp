#include "ui/catalogue.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

namespace morivane {
namespace {

// Every text as the program shows it on a Japanese system: code page 932
// bytes, in hex.
struct Expected {
    int number;
    const char* identifier;
    const char* cp932;
};
// clang-format off
const Expected kExpected[] = {
    {1, "IDS_UNSUPPORTED_LANGUAGE",
     "82b28e67977082cc8cbe8cea836f815b83578387839382cc2057696e646f757339352082c582cd93ae8dec82b582dc82b982f18142836283768366815b836782f092868e7e82b582dc82b781420a"},
    {2, "IDS_NT_UNSUPPORTED",
     "82b182cc835c8374836782cd2057696e646f77734e542082c582cd93ae8dec82b582dc82b982f18142836283768366815b836782f092868e7e82b582dc82b781420a"},
    {3, "IDS_OLD_WINDOWS",
     "82b182cc835c8374836782cd2057696e646f777339352088c88d7e90ea977082c582b781428341836283768366815b836782f092868e7e82b582dc82b781420a"},
    {4, "IDS_NOT_INSTALLED",
     "4d6f726976616e6582aa8343839383588367815b838b82b382ea82c482a282dc82b982f181428341836283768366815b836782f092868e7e82b582dc82b781420a"},
    {5, "IDS_NEWER_VERSION_INSTALLED",
     "82b782c582c981414d6f726976616e65836a8385815b836f815b83578387839382aa8343839383588367815b838b82b382ea82c482a282dc82b781420a8341836283768366815b836782f08d7382a48fea8d8782c982cd81418349838a83578369838b82cc4d6f726976616e6582f08dc48343839383588367815b838b8ce382c98341836283768366815b836782f08d7382c182c482ad82be82b382a281420a"},
    {6, "IDS_ALREADY_CONTAINS_UPDATE",
     "82b182cc8341836283768366815b83678376838d834f8389838082cc93e0976582f08adc82f182be4d6f726976616e6582aa8343839383588367815b838b82b382ea82c482a282dc82b781420a8341836283768366815b836782cc954b977682cd82a082e882dc82b982f181420a"},
    {7, "IDS_INSTALL_BROKEN",
     "4d6f726976616e6582cc8343839383588367815b838b82c98eb8947382b582c482a282e989c2945c90ab82aa82a082e882dc82b781420a8dc48343839383588367815b838b8ce382c98341836283768366815b836782f08d7382c182c482ad82be82b382a281420a"},
    {8, "IDS_ALREADY_UPDATED",
     "82b782c582c98341836283768366815b83678dcf82dd82cc836f815b83578387839382aa8343839383588367815b838b8dcf82dd82c582b781428341836283768366815b836782cc954b977682cd82a082e882dc82b982f181420a8341836283768366815b836782f092868e7e82b582dc82b781420a"},
    {9, "IDS_VERSION_NOT_SUPPORTED",
     "82b182cc8341836283768366815b836782cd82b28e67977082cc836f815b83578387839382cc4d6f726976616e6582c982cd91ce899e82b582c482a282dc82b982f181420a8341836283768366815b836782f092868e7e82b582dc82b781420a"},
    {10, "IDS_EXE_IN_USE",
     "91bc82cc83418376838a8350815b835683878393939982c54d6f726976616e6582cc8ec08d73837483408343838b82f08e518fc682b582c482a289c2945c90ab82aa82a082e882dc82b781420a91bc82cc83418376838a8350815b83568387839382f0915382c48f4997b98ce382c98341836283768366815b836782f08ec08d7382b582c482ad82be82b382a281420a"},
    {11, "IDS_TEMP_CREATE_FAILED",
     "88ea8e9e837483408343838b82cc8dec90ac82c98eb8947382b582dc82b582bd81420a836e815b8368836683428358834e82cc976597ca82aa957391ab82b582c482a282e989c2945c90ab82aa82a082e882dc82b781420a"},
    {12, "IDS_UPDATE_FAILED",
     "8341836283768366815b836782c98eb8947382b582dc82b582bd81420a4d6f726976616e6582cc93ae8dec836083468362834e8ce382c982e082a488ea93788ec08d7382b582c482ad82be82b382a281420a"},
    {13, "IDS_OUT_OF_MEMORY",
     "83818382838a82cc8a6d95db82c98eb8947382b582dc82b582bd81420a91bc82cc83418376838a8350815b83568387839382f082b782d782c48f4997b98ce382c982e082a488ea93788ec08d7382b582c482ad82be82b382a281420a"},
    {14, "IDS_PRODUCT_RUNNING",
     "4d6f726976616e6582aa8b4e93ae82b582c482a282dc82b781420a88c0915382cc82bd82df814191bc82cc82b782d782c482cc83418376838a8350815b83568387839382f08f4997b982b582c482ad82be82b382a281420a8341836283768366815b836782f092868e7e82b582dc82b781420a"},
    {15, "IDS_UPDATER_RUNNING",
     "82b782c582c98341836283768366815b83678376838d834f8389838082aa8b4e93ae82b582c482a282dc82b781420a88c0915382cc82bd82df814191bc82cc82b782d782c482cc83418376838a8350815b83568387839382f08f4997b982b582c482ad82be82b382a281420a8341836283768366815b836782f092868e7e82b582dc82b781420a"},
    {50, "IDS_CLOSE_PROGRAMS",
     "88c0915382cc82bd82df81418343839383588367815b838b914f82c991bc82cc82b782d782c482cc8376838d834f8389838082f08f4997b982b582c482ad82be82b382a281420a"},
    {51, "IDS_CONFIRM_UPDATE",
     "4d6f726976616e6582cc8341836283768366815b836782f08d7382a282dc82b781420a82e682eb82b582a282c582b782a981480a"},
    {52, "IDS_UPDATING",
     "8341836283768366815b836782f08ec08d73928682c582b72081452081452081452081450a"},
    {53, "IDS_UPDATE_DONE",
     "8341836283768366815b836782f08f4997b982b582dc82b582bd81420a"},
    {54, "IDS_PRODUCT_WINDOW_TITLE",
     "4d6f726976616e6581408160446f6c76656e63726573748160"},
    {55, "IDS_UPDATER_TITLE",
     "4d6f726976616e658341836283768366815b836783418376838a8350815b83568387839320312e3061"},
};
// clang-format on

// `text` (UTF-8) in code page 932 as lower-case hex, or "<unconvertible>".
std::string ToCp932Hex(const std::string& text) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no CP932 converter>";
    std::string in = text;
    std::vector<char> out(in.size() * 2 + 16);
    char* inp = in.data();
    std::size_t inLeft = in.size();
    char* outp = out.data();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1) || inLeft != 0) return "<unconvertible>";
    std::string hex;
    static const char kDigits[] = "0123456789abcdef";
    for (const char* p = out.data(); p != outp; ++p) {
        const unsigned char b = static_cast<unsigned char>(*p);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

int Count(const std::string& text, const char* what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + std::strlen(what))) {
        ++n;
    }
    return n;
}

TEST(CatalogueTest, HoldsExactlyTheNumbersInUse) {
    const auto entries = Catalogue();
    ASSERT_EQ(entries.size(), 21u);
    std::vector<int> numbers;
    for (const CatalogueEntry& e : entries) numbers.push_back(e.number);
    std::vector<int> expected;
    for (int n = 1; n <= 15; ++n) expected.push_back(n);
    for (int n = 50; n <= 55; ++n) expected.push_back(n);
    EXPECT_EQ(numbers, expected);

    for (int n : {-1, 0, 16, 49, 56, 130}) EXPECT_EQ(FindMessage(n), nullptr) << n;
    for (const Expected& x : kExpected) {
        const CatalogueEntry* e = FindMessage(x.number);
        ASSERT_NE(e, nullptr) << x.number;
        EXPECT_STREQ(e->identifier, x.identifier);
        EXPECT_NE(std::strlen(e->english), 0u);
    }
    // The patcher's results, by name.
    EXPECT_EQ(IDS_EXE_IN_USE, 10);
    EXPECT_EQ(IDS_TEMP_CREATE_FAILED, 11);
    EXPECT_EQ(IDS_UPDATE_FAILED, 12);
    EXPECT_EQ(IDS_OUT_OF_MEMORY, 13);
    EXPECT_EQ(IDS_UPDATER_TITLE, 55);
}

TEST(CatalogueTest, LineFeedsAndSpecialCharacters) {
    for (const CatalogueEntry& e : Catalogue()) {
        SCOPED_TRACE(e.number);
        const std::string text = e.text;
        EXPECT_EQ(text.find('\r'), std::string::npos);
        const bool title = e.number == 54 || e.number == 55;
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back() == '\n', !title);
    }
    const std::string product = FindMessage(54)->text;
    EXPECT_EQ(Count(product, "\u3000"), 1);  // ideographic space
    EXPECT_EQ(Count(product, "\uFF5E"), 2);  // fullwidth tilde
    EXPECT_EQ(Count(product, "~"), 0);
    EXPECT_EQ(Count(product, "\u301C"), 0);  // not the wave dash
    EXPECT_EQ(product.find('\n'), std::string::npos);
    EXPECT_EQ(std::string(FindMessage(55)->text).find('\n'), std::string::npos);
}

TEST(CatalogueTest, TextsInCodePage932) {
    for (const Expected& x : kExpected) {
        SCOPED_TRACE(x.identifier);
        const CatalogueEntry* e = FindMessage(x.number);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(ToCp932Hex(e->text), x.cp932);
    }
}

}  // namespace
}  // namespace morivane
