#include "pe/pe_module.h"

#include <gtest/gtest.h>

#include <string>

#include "pe/version_info.h"
#include "tests/support/pe_test_support.h"

namespace morivane {
namespace {

using namespace petest;

std::string AsText(ByteSpan data) {
    return std::string(data.begin(), data.end());
}

PeStatus StatusOf(const Bytes& file) {
    PeStatus status = PeStatus::Ok;
    const auto module = PeModule::Parse(file, &status);
    EXPECT_EQ(module.has_value(), status == PeStatus::Ok);
    return status;
}

// Every byte of every resource lies inside `file`.
void ExpectSpansInside(const PeModule& module, const Bytes& file) {
    for (const Resource& r : module.Resources()) {
        EXPECT_GE(r.data.data(), file.data());
        EXPECT_LE(r.data.data() + r.data.size(), file.data() + file.size());
        for (const ResourceName* n : {&r.type, &r.name}) {
            if (!n->isName) continue;
            EXPECT_GE(n->utf16.data(), file.data());
            EXPECT_LE(n->utf16.data() + n->utf16.size(), file.data() + file.size());
        }
    }
}

#ifdef PE_FIXTURE_PATH

class Fixture : public testing::Test {
  protected:
    void SetUp() override {
        file_ = ReadFile(PE_FIXTURE_PATH);
        ASSERT_FALSE(file_.empty()) << PE_FIXTURE_PATH;
    }
    Bytes file_;
};

// The module built from tests/support/pe_fixture/fixture.rc holds exactly
// what the script declares; ids within a directory are sorted, names before
// ids.
TEST_F(Fixture, ListsEveryResourceOfTheScript) {
    PeStatus status = PeStatus::NotMz;
    const auto module = PeModule::Parse(file_, &status);
    ASSERT_TRUE(module) << PeStatusName(status);
    std::vector<std::string> seen;
    for (const Resource& r : module->Resources()) {
        seen.push_back(r.type.ToString() + " " + r.name.ToString() + " " +
                       std::to_string(r.language));
    }
    const std::vector<std::string> expected = {
        "KESTRONDATA #5 1041", "SABUNN LOGO 1041", "SABUNN #130 1041", "SABUNN #137 1033",
        "SABUNN #137 1041",    "SABUNN #138 1041", "#10 #7 1041",      "#16 #1 1041",
        "#16 #2 1041",         "#16 #3 1041",      "#16 #4 1041",
    };
    EXPECT_EQ(seen, expected);
    ExpectSpansInside(*module, file_);
}

TEST_F(Fixture, FindsPayloadsByTypeNameAndIdFirstLanguageFirst) {
    const auto module = PeModule::Parse(file_);
    ASSERT_TRUE(module);
    const ResourceId sabunn = ResourceId::Named("SABUNN");

    const Resource* p130 = module->Find(sabunn, ResourceId::Number(130));
    ASSERT_NE(p130, nullptr);
    EXPECT_EQ(AsText(p130->data), "payload!HF container one-thirty");
    EXPECT_EQ(AsText(module->Find(sabunn, ResourceId::Number(138))->data), "plain script 138");

    // 137 is stored for 0x0409 and 0x0411; the directory lists 0x0409 first.
    const Resource* p137 = module->Find(sabunn, ResourceId::Number(137));
    ASSERT_NE(p137, nullptr);
    EXPECT_EQ(p137->language, 0x0409);
    EXPECT_EQ(AsText(p137->data), "english 137");

    // Names compare without regard to ASCII case; ids and names never mix.
    EXPECT_NE(module->Find(ResourceId::Named("sabunn"), ResourceId::Number(130)), nullptr);
    EXPECT_EQ(AsText(module->Find(sabunn, ResourceId::Named("logo"))->data), "named payload");
    EXPECT_EQ(AsText(module->Find(ResourceId::Named("KestronData"), ResourceId::Number(5))->data),
              "named type");
    EXPECT_EQ(AsText(module->Find(ResourceId::Number(10), ResourceId::Number(7))->data),
              "plain rcdata");
    EXPECT_EQ(module->Find(sabunn, ResourceId::Number(139)), nullptr);
    EXPECT_EQ(module->Find(ResourceId::Named("SABUN"), ResourceId::Number(130)), nullptr);
    EXPECT_EQ(module->Find(ResourceId::Named("SABUNNX"), ResourceId::Number(130)), nullptr);
    EXPECT_EQ(module->Find(ResourceId::Number(10), ResourceId::Number(130)), nullptr);
}

TEST_F(Fixture, FileVersionComesFromTheFirstTranslation) {
    VersionStatus status = VersionStatus::NotFound;
    const auto version = ReadModuleFileVersion(file_, &status);
    ASSERT_TRUE(version) << VersionStatusName(status);
    EXPECT_EQ(*version, "1, 0, 0, 1");

    const auto module = PeModule::Parse(file_);
    ASSERT_TRUE(module);
    auto versionOf = [&](std::uint16_t id, VersionStatus* why) {
        const Resource* r = module->Find(ResourceId::Number(16), ResourceId::Number(id));
        EXPECT_NE(r, nullptr);
        return r ? ReadFileVersion(r->data, why) : std::nullopt;
    };
    // Version 2 lists 0x0407 first, which has no string table: no fallback.
    EXPECT_FALSE(versionOf(2, &status));
    EXPECT_EQ(status, VersionStatus::NoFileVersion);
    EXPECT_EQ(versionOf(3, &status), "3, 0, 0, 0");     // table key "041104b0"
    EXPECT_EQ(versionOf(4, &status), "\u7B2C4\u7248");  // "第4版", as UTF-8
}

// A file cut anywhere either fails or, when the cut only drops bytes that
// no structure uses, gives exactly the full file's resources.
TEST_F(Fixture, TruncatedCopiesFailOrAgree) {
    const auto full = PeModule::Parse(file_);
    ASSERT_TRUE(full);
    std::size_t lastUsed = 0;
    for (const Resource& r : full->Resources()) {
        lastUsed = std::max<std::size_t>(lastUsed, r.data.data() + r.data.size() - file_.data());
    }
    int failed = 0;
    for (std::size_t n = 0; n < file_.size(); ++n) {
        const Bytes cut(file_.begin(), file_.begin() + n);
        PeStatus status = PeStatus::Ok;
        const auto module = PeModule::Parse(cut, &status);
        if (!module) {
            ++failed;
            continue;
        }
        ASSERT_GE(n, lastUsed) << "cut at " << n << " parsed";
        ASSERT_EQ(module->Resources().size(), full->Resources().size());
        for (std::size_t i = 0; i < full->Resources().size(); ++i) {
            EXPECT_EQ(AsText(module->Resources()[i].data), AsText(full->Resources()[i].data));
        }
    }
    EXPECT_EQ(failed, static_cast<int>(lastUsed)) << "every cut before the last data byte fails";
}

// Every byte of the headers and the resource section set to a few values:
// whatever parses has all its spans inside the file, and nothing crashes
// (the sanitizer build checks the reads).
TEST_F(Fixture, DamagedBytesNeverLeadOutside) {
    int parsed = 0;
    for (std::size_t i = 0; i < file_.size(); ++i) {
        for (std::uint8_t v : {0x00, 0x7F, 0x80, 0xFF}) {
            Bytes damaged = file_;
            if (damaged[i] == v) continue;
            damaged[i] = v;
            const auto module = PeModule::Parse(damaged);
            if (!module) continue;
            ++parsed;
            ExpectSpansInside(*module, damaged);
            if (const Resource* r = module->FindVersionResource()) ReadFileVersion(r->data);
        }
    }
    EXPECT_GT(parsed, 0);
}

#endif  // PE_FIXTURE_PATH

TEST(PeHeaders, EachDamagedHeaderHasItsOwnStatus) {
    const Bytes good = BuildImage(BuildMiniTree());
    ASSERT_EQ(StatusOf(good), PeStatus::Ok);

    auto with = [&](auto change) {
        Bytes b = good;
        change(b);
        return StatusOf(b);
    };
    EXPECT_EQ(StatusOf(Bytes(good.begin(), good.begin() + 63)), PeStatus::NotMz);
    EXPECT_EQ(with([](Bytes& b) { b[1] = 'X'; }), PeStatus::NotMz);
    EXPECT_EQ(with([](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFFF); }), PeStatus::BadPeOffset);
    EXPECT_EQ(with([](Bytes& b) { Put32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 23)); }),
              PeStatus::BadPeOffset);
    EXPECT_EQ(with([](Bytes& b) { b[Image::kLfanew + 2] = 'X'; }), PeStatus::NotPe);
    EXPECT_EQ(with([](Bytes& b) { Put16(b, Image::kOptional, 0x20B); }), PeStatus::NotPe32);
    EXPECT_EQ(with([](Bytes& b) { Put16(b, Image::kOptionalSize, 95); }), PeStatus::NotPe32);
    EXPECT_EQ(with([](Bytes& b) { Put16(b, Image::kOptionalSize, 0xFFFF); }), PeStatus::NotPe32);
    EXPECT_EQ(with([](Bytes& b) { Put16(b, Image::kSectionCount, 0xFFFF); }),
              PeStatus::SectionsPastEnd);
    EXPECT_EQ(with([](Bytes& b) { Put32(b, Image::kResourceRva, 0); }), PeStatus::NoResources);
    EXPECT_EQ(with([](Bytes& b) { Put32(b, Image::kRvaCount, 2); }), PeStatus::NoResources);
    // Room for only two directories in the optional header, whatever the count says.
    EXPECT_EQ(with([](Bytes& b) { Put16(b, Image::kOptionalSize, 96 + 16); }),
              PeStatus::NoResources);
    EXPECT_EQ(with([](Bytes& b) { Put32(b, Image::kResourceRva, 0x5000); }),
              PeStatus::ResourceRvaUnmapped);
    EXPECT_EQ(with([](Bytes& b) { Put16(b, Image::kSectionCount, 0); }),
              PeStatus::ResourceRvaUnmapped);
    // The section's file data lies beyond the end of the file.
    EXPECT_EQ(with([](Bytes& b) { Put32(b, Image::kRawPointer, 0x10000); }),
              PeStatus::ResourceRvaUnmapped);
}

TEST(PeTree, SectionMappingFollowsFileData) {
    const Bytes good = BuildImage(BuildMiniTree());
    {
        const auto module = PeModule::Parse(good);
        ASSERT_TRUE(module);
        ASSERT_EQ(module->Resources().size(), 1u);
        const Resource& r = module->Resources()[0];
        EXPECT_EQ(r.type.ToString(), "#10");
        EXPECT_EQ(r.language, 0x0411);
        EXPECT_EQ(r.dataRva, Image::kTreeRva + MiniTree::kBytes);
        EXPECT_EQ(r.data.data(), good.data() + Image::kTreeOffset + MiniTree::kBytes);
        EXPECT_EQ(AsText(r.data), "DATA");
    }
    auto withData = [&](std::uint32_t rva, std::uint32_t size) {
        Bytes tree = BuildMiniTree();
        DataEntry(tree, MiniTree::kData, rva, size);
        return StatusOf(BuildImage(tree));
    };
    EXPECT_EQ(withData(0x9000, 4), PeStatus::DataUnmapped);
    EXPECT_EQ(withData(Image::kTreeRva, 0xFFFFFFFF), PeStatus::DataUnmapped);
    EXPECT_EQ(withData(0xFFFFFFFF, 2), PeStatus::DataUnmapped);
    EXPECT_EQ(withData(Image::kTreeRva + MiniTree::kBytes, 0), PeStatus::Ok);
    // The section's virtual size is the tree's size (0x5C): its zero-filled
    // raw padding up to 0x200 is not part of it.
    EXPECT_EQ(withData(Image::kTreeRva + 0x5C, 4), PeStatus::DataUnmapped);
    EXPECT_EQ(withData(Image::kTreeRva + 0x58, 5), PeStatus::DataUnmapped);

    // A virtual size beyond the file data: the tail is memory, not file.
    Bytes tree = BuildMiniTree();
    DataEntry(tree, MiniTree::kData, Image::kTreeRva + 0x300, 4);
    Bytes big = BuildImage(tree);
    Put32(big, Image::kVirtualSize, 0x2000);
    EXPECT_EQ(StatusOf(big), PeStatus::DataUnmapped);
    // A file cut inside the section's data: the tree itself is cut short.
    EXPECT_EQ(StatusOf(Bytes(good.begin(), good.begin() + Image::kTreeOffset + 0x20)),
              PeStatus::DirectoryPastEnd);
}

TEST(PeTree, HostileTreesAreRejected) {
    auto status = [](auto change) {
        Bytes tree = BuildMiniTree();
        change(tree);
        return StatusOf(BuildImage(tree));
    };
    using T = MiniTree;
    // Loops: the root pointing at itself, a name directory pointing back.
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kTypes, 0, 10, kSub | T::kTypes); }),
              PeStatus::DirectoryLoop);
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kNames, 0, 1, kSub | T::kNames); }),
              PeStatus::DirectoryLoop);
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kNames, 0, 1, kSub | T::kTypes); }),
              PeStatus::DirectoryLoop);
    // One name directory shared by two types would multiply the resources.
    {
        Bytes t;
        Directory(t, 0x00, 0, 2);
        Entry(t, 0x00, 0, 10, kSub | 0x20);
        Entry(t, 0x00, 1, 11, kSub | 0x20);
        Directory(t, 0x20, 0, 1);
        Entry(t, 0x20, 0, 1, kSub | 0x38);
        Directory(t, 0x38, 0, 1);
        Entry(t, 0x38, 0, 0x0411, 0x50);
        DataEntry(t, 0x50, Image::kTreeRva + 0x50, 16);
        EXPECT_EQ(StatusOf(BuildImage(t)), PeStatus::DirectoryLoop);
        Entry(t, 0x00, 1, 11, kSub | 0x20 | 0x40000000);  // a far-away copy instead
        EXPECT_EQ(StatusOf(BuildImage(t)), PeStatus::DirectoryPastEnd);
    }
    // A fourth level.
    EXPECT_EQ(status([](Bytes& t) {
                  Entry(t, T::kLanguages, 0, 0x0411, kSub | 0x60);
                  Directory(t, 0x60, 0, 0);
              }),
              PeStatus::TooDeep);
    // Data where a directory belongs.
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kTypes, 0, 10, T::kData); }),
              PeStatus::DataAboveLanguage);
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kNames, 0, 1, T::kData); }),
              PeStatus::DataAboveLanguage);
    // Offsets and counts past the end of the section.
    EXPECT_EQ(status([](Bytes& t) { Directory(t, T::kTypes, 0, 0xFFFF); }),
              PeStatus::DirectoryPastEnd);
    EXPECT_EQ(status([](Bytes& t) { Directory(t, T::kLanguages, 0x7FFF, 0x8000); }),
              PeStatus::DirectoryPastEnd);
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kTypes, 0, 10, kSub | 0x7FFFFFF0); }),
              PeStatus::DirectoryPastEnd);
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kTypes, 0, 10, kSub | 0x50); }),
              PeStatus::DirectoryPastEnd);  // 16 bytes from 0x50 pass the tree's 0x5C
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kLanguages, 0, 0x411, 0x50); }),
              PeStatus::DirectoryPastEnd);
    // Name strings: offset past the end, length past the end.
    EXPECT_EQ(status([](Bytes& t) {
                  Directory(t, T::kTypes, 1, 0);
                  Entry(t, T::kTypes, 0, kSub | 0x7FFFFFFF, kSub | T::kNames);
              }),
              PeStatus::DirectoryPastEnd);
    EXPECT_EQ(status([](Bytes& t) {
                  Directory(t, T::kTypes, 1, 0);
                  Entry(t, T::kTypes, 0, kSub | 0x58, kSub | T::kNames);
                  Put16(t, 0x58, 0xFFFF);
              }),
              PeStatus::DirectoryPastEnd);
    // Named and integer entries out of their places.
    EXPECT_EQ(status([](Bytes& t) { Directory(t, T::kTypes, 1, 0); }), PeStatus::EntryKindMismatch);
    EXPECT_EQ(status([](Bytes& t) { Entry(t, T::kNames, 0, kSub | 0x58, kSub | T::kLanguages); }),
              PeStatus::EntryKindMismatch);
}

TEST(PeTree, NamesAndEmptyTrees) {
    // Type named "ab" (stored lower case) at 0x5C, name id 1.
    Bytes tree = BuildMiniTree();
    Directory(tree, MiniTree::kTypes, 1, 0);
    Entry(tree, MiniTree::kTypes, 0, kSub | 0x5C, kSub | MiniTree::kNames);
    Put16(tree, 0x5C, 2);
    const Bytes ab = Utf16(u"ab", false);
    tree.insert(tree.end(), ab.begin(), ab.end());
    const Bytes file = BuildImage(tree);
    const auto module = PeModule::Parse(file);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->Resources()[0].type.ToString(), "ab");
    EXPECT_NE(module->Find(ResourceId::Named("AB"), ResourceId::Number(1)), nullptr);
    // "#<decimal>" names an integer id, as in the Win32 lookup.
    EXPECT_NE(module->Find(ResourceId::Named("ab"), ResourceId::Named("#1")), nullptr);
    EXPECT_EQ(module->Find(ResourceId::Named("#10"), ResourceId::Number(1)), nullptr);
    EXPECT_EQ(module->Find(ResourceId::Named("ab"), ResourceId::Named("#1x")), nullptr);

    Bytes empty;
    Directory(empty, 0, 0, 0);
    const Bytes emptyFile = BuildImage(empty);
    PeStatus status = PeStatus::NotMz;
    const auto none = PeModule::Parse(emptyFile, &status);
    ASSERT_TRUE(none) << PeStatusName(status);
    EXPECT_TRUE(none->Resources().empty());
    EXPECT_EQ(none->FindVersionResource(), nullptr);
    VersionStatus vs = VersionStatus::Ok;
    EXPECT_FALSE(ReadModuleFileVersion(emptyFile, &vs));
    EXPECT_EQ(vs, VersionStatus::NoVersionResource);
    EXPECT_FALSE(ReadModuleFileVersion(Bytes(10, 0), &vs));
    EXPECT_EQ(vs, VersionStatus::BadModule);
}

}  // namespace
}  // namespace morivane
