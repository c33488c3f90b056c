// The generated demo product: its files have the sizes and stored forms the
// updater expects, each payload patched by the real patcher onto its old
// file gives the new file byte for byte, the two executables carry the
// version texts the updater tells apart, and the scripts hold the kinds of
// change the content was built with.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "patch/diff_patcher.h"
#include "patch/payload.h"
#include "patch/sabunn_script.h"
#include "pe/pe_module.h"
#include "pe/version_info.h"
#include "platform/directory_payload_store.h"
#include "platform/posix/posix_file_system.h"
#include "tests/support/temp_dir.h"

namespace morivane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kDemo = MORIVANE_DEMO_DIR;

struct Product {
    int id;
    const char* path;
    bool plain;
    std::size_t referenceNewBytes;  // the real product's new file
};

void PrintTo(const Product& p, std::ostream* os) {
    *os << p.id << " " << p.path;
}

// In update order.
constexpr Product kFiles[] = {
    {130, "Morivane.exe", false, 1208832},    {137, "dat/Iobjectc.til", false, 1499328},
    {138, "dat/Iobjecto.til", true, 824736},  {139, "dat/Iobjecte.til", true, 696896},
    {140, "dat/Iobjecth.til", false, 929120},
};

Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

fs::path PayloadPath(int id, const char* set = "payloads") {
    return kDemo / set / (std::to_string(id) + ".sabunn");
}

// The script a payload holds, decoded when it is a container.
Bytes ScriptOf(const Bytes& payload) {
    const PayloadScript script = ScriptOfPayload(payload);
    return Bytes(script.script.begin(), script.script.end());
}

class DemoFileTest : public ::testing::TestWithParam<Product> {};

TEST_P(DemoFileTest, SizesAreWholeUnitsNearTheRealProduct) {
    const Product& p = GetParam();
    const auto oldSize = fs::file_size(kDemo / "old" / p.path);
    const auto newSize = fs::file_size(kDemo / "new" / p.path);
    EXPECT_EQ(oldSize % 32, 0u);
    EXPECT_EQ(newSize % 32, 0u);
    EXPECT_LT(oldSize, newSize);
    EXPECT_GE(newSize, p.referenceNewBytes * 9 / 10);
    EXPECT_LE(newSize, p.referenceNewBytes * 11 / 10);
}

TEST_P(DemoFileTest, PayloadIsStoredAsTheUpdaterExpects) {
    const Product& p = GetParam();
    const Bytes payload = Read(PayloadPath(p.id));
    ASSERT_FALSE(payload.empty());
    // The patcher tells the forms apart by the word at offset 8 alone; a plain
    // payload must therefore not hold "HF" there (a run count of 17,992).
    EXPECT_EQ(IsHfContainer(payload), !p.plain);
    const Bytes script = ScriptOf(payload);
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(script, &view), ScriptError::Ok);
    EXPECT_NE(view.Header().runCount & 0xFFFF, 0x4648);
    EXPECT_EQ(view.Header().unitSize, 32);
    EXPECT_TRUE(view.Summary().IsConsistent(view.Header()));
    EXPECT_EQ(view.Summary().zeroRuns, 0u);
    // Plain scripts fill their payloads exactly.
    if (p.plain) {
        EXPECT_EQ(view.Summary().scriptBytes, payload.size());
    }
    EXPECT_EQ(view.Summary().newFileBytes, fs::file_size(kDemo / "new" / p.path));
}

// Patches the old file with payload `id` of the set and compares the result
// with the new file.
void ExpectPatchGivesNewFile(const Product& p, const char* set) {
    const testing::TempDir dir("demo_patch");
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir / "Clone.tmp";

    PosixFileSystem files;
    DirectoryPayloadStore store(files, (kDemo / set).string());
    DiffPatcher patcher(files, store);
    EXPECT_EQ(patcher.Patch((kDemo / "old" / p.path).string(), out, p.id), 0);
    const Bytes rebuilt = Read(out);
    const Bytes expected = Read(kDemo / "new" / p.path);
    EXPECT_EQ(rebuilt.size(), expected.size());
    EXPECT_TRUE(rebuilt == expected);
}

TEST_P(DemoFileTest, PatchingTheOldFileGivesTheNewOne) {
    ExpectPatchGivesNewFile(GetParam(), "payloads");
}

// The set the second updater carries: units of one byte.
TEST_P(DemoFileTest, UnitOnePayloadGivesTheNewOneToo) {
    const Product& p = GetParam();
    ExpectPatchGivesNewFile(p, "payloads-unit1");
    const Bytes script = ScriptOf(Read(PayloadPath(p.id, "payloads-unit1")));
    ScriptView view;
    ASSERT_EQ(ScriptView::Parse(script, &view), ScriptError::Ok);
    EXPECT_EQ(view.Header().unitSize, 1);
}

TEST(DemoScripts, UnitOneSetHoldsBothFormsAndFullLengthRuns) {
    int packed = 0, longest = 0;
    for (const Product& p : kFiles) {
        const Bytes payload = Read(PayloadPath(p.id, "payloads-unit1"));
        packed += IsHfContainer(payload) ? 1 : 0;
        ScriptView view;
        const Bytes script = ScriptOf(payload);
        ASSERT_EQ(ScriptView::Parse(script, &view), ScriptError::Ok);
        longest = std::max(longest, view.Summary().longestLiteralRun);
    }
    EXPECT_GT(packed, 0);
    EXPECT_LT(packed, 5);
    EXPECT_EQ(longest, kScriptMaxRun);
}

INSTANTIATE_TEST_SUITE_P(Five, DemoFileTest, ::testing::ValuesIn(kFiles), [](const auto& info) {
    return "Payload" + std::to_string(info.param.id);
});

// --- the kinds of change in the scripts ---------------------------------------

struct Shape {
    std::vector<int> runs;
    std::vector<std::uint32_t> offsets;
    int copiesInARow = 0;     // copy runs straight after a copy run
    int repeatedSources = 0;  // copy runs whose offset an earlier copy run used
    int halfUnitSources = 0;  // copy runs from an offset 16 bytes into a unit
};

Shape ShapeOf(int id) {
    const Bytes script = ScriptOf(Read(PayloadPath(id)));
    ScriptView v;
    Shape s;
    if (ScriptView::Parse(script, &v) != ScriptError::Ok) return s;
    std::set<std::uint32_t> seen;
    for (int i = 0; i < v.Header().runCount; ++i) {
        s.runs.push_back(v.Run(static_cast<std::size_t>(i)));
        if (i > 0 && s.runs[i] > 0 && s.runs[i - 1] > 0) ++s.copiesInARow;
    }
    for (std::uint32_t i = 0; i < v.Header().copyCount; ++i) {
        const std::uint32_t offset = v.Offset(i);
        s.offsets.push_back(offset);
        if (!seen.insert(offset).second) ++s.repeatedSources;
        if (offset % 32 == 16) ++s.halfUnitSources;
    }
    return s;
}

TEST(DemoScripts, EffectImagesAreOneLiteralRunAndTheOldHeader) {
    const Shape s = ShapeOf(139);
    EXPECT_EQ(s.runs, (std::vector<int>{-21777, 1}));
    EXPECT_EQ(s.offsets, (std::vector<std::uint32_t>{0}));
}

TEST(DemoScripts, ScenarioTextKeepsAPassageFromHalfwayIntoAUnit) {
    const Shape s = ShapeOf(138);
    const auto it = std::find(s.offsets.begin(), s.offsets.end(), 369680u);
    ASSERT_NE(it, s.offsets.end());
    EXPECT_GT(s.halfUnitSources, 0);
    EXPECT_LT(s.offsets.size(), 30u);  // mostly rewritten
}

TEST(DemoScripts, ItemTablesAndExecutableHoldEveryKindOfCopy) {
    for (int id : {130, 137}) {
        SCOPED_TRACE(id);
        const Shape s = ShapeOf(id);
        EXPECT_GT(s.copiesInARow, 0);
        EXPECT_GT(s.repeatedSources, 0);
        EXPECT_GT(s.halfUnitSources, 0);
        // Most units are carried literally.
        int literal = 0, total = 0;
        for (int r : s.runs) {
            total += std::abs(r);
            if (r < 0) literal -= r;
        }
        EXPECT_GT(literal * 2, total);
    }
    // The executables share their headers: the first run copies from offset 0.
    const Shape exe = ShapeOf(130);
    ASSERT_FALSE(exe.runs.empty());
    EXPECT_GT(exe.runs.front(), 0);
    EXPECT_EQ(exe.offsets.front(), 0u);
}

// --- the executables -----------------------------------------------------------

TEST(DemoExecutable, VersionTextsUnderTheJapaneseUnicodeTranslation) {
    for (const auto& [tree, version] : {std::pair{"old", "1, 0, 0, 1"}, {"new", "1, 0, 0, 2"}}) {
        SCOPED_TRACE(tree);
        const Bytes exe = Read(kDemo / tree / "Morivane.exe");
        const auto module = PeModule::Parse(exe);
        ASSERT_TRUE(module.has_value());
        const Resource* resource = module->FindVersionResource();
        ASSERT_NE(resource, nullptr);
        const auto translation = ReadFirstTranslation(resource->data);
        ASSERT_TRUE(translation.has_value());
        EXPECT_EQ(translation->language, 0x0411);
        EXPECT_EQ(translation->codePage, 0x04B0);
        EXPECT_EQ(ReadModuleFileVersion(exe), std::optional<std::string>(version));
    }
}

TEST(DemoExecutable, IsAnI686GuiProgramWithTheProductTitle) {
    // Text 54 in code page 932: U+3000 is 81 40, U+FF5E is 81 60.
    const std::string title =
        "Morivane\x81\x40\x81\x60"
        "Dolvencrest\x81\x60";
    for (const char* tree : {"old", "new"}) {
        SCOPED_TRACE(tree);
        const Bytes exe = Read(kDemo / tree / "Morivane.exe");
        ASSERT_GT(exe.size(), 0x200u);
        ASSERT_EQ(exe[0], 'M');
        ASSERT_EQ(exe[1], 'Z');
        const std::uint32_t pe = LoadLe32(exe.data() + 0x3C);
        ASSERT_LT(pe + 0x18 + 70, exe.size());
        EXPECT_EQ(LoadLe32(exe.data() + pe), 0x00004550u);                    // "PE\0\0"
        EXPECT_EQ(LoadLe16(exe.data() + pe + 4), 0x014C);                     // i386
        EXPECT_EQ(LoadLe16(exe.data() + pe + 0x18 + 68), 2);                  // Windows GUI
        EXPECT_EQ(LoadLe32(exe.data() + pe + 8), 0u);                         // no time stamp
        const Bytes needle(title.c_str(), title.c_str() + title.size() + 1);  // with its NUL
        EXPECT_NE(std::search(exe.begin(), exe.end(), needle.begin(), needle.end()), exe.end());
    }
}

}  // namespace
}  // namespace morivane
