// The expected FileVersion results, and the portable reader on the test
// module, against the Win32 lookup (GetFileVersionInfoA, VerQueryValueA) as
// Wine implements it. Damaged resources are left out: there the Win32 calls
// read beyond the data.
#include <vector>

#include "pe/version_info.h"
#include "tests/support/pe_test_support.h"
#include "tests/support/run_support.h"
#include "tests/pe/version_cases.h"

namespace morivane {
namespace {

using namespace petest;
namespace fs = std::filesystem;

#if defined(PE_PROBE_PATH) && defined(PE_WINE_PATH)

std::string WinePath(const fs::path& path) {
    std::string s = "Z:" + fs::absolute(path).string();
    for (char& c : s) {
        if (c == '/') c = '\\';
    }
    return s;
}

class WineOracle : public TempDirTest {};

TEST_F(WineOracle, AgreesWithTheWin32Lookup) {
    if (Run("'" PE_WINE_PATH "' --version").status != 0) GTEST_SKIP() << "wine does not run";
    std::vector<std::optional<std::string>> expected;
    std::vector<std::string> names;
    std::string args;
#ifdef PE_FIXTURE_PATH
    expected.push_back(ReadModuleFileVersion(ReadFile(PE_FIXTURE_PATH)));
    names.push_back("the test module");
    args += " '" + WinePath(PE_FIXTURE_PATH) + "'";
#endif
    int n = 0;
    for (const VersionCase& c : VersionCases()) {
        if (!c.onWin32) continue;
        const Bytes block = Serialize(c.root);
        const fs::path path = dir_ / ("case" + std::to_string(n++) + ".blk");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(block.data()),
                   static_cast<std::streamsize>(block.size()));
        expected.push_back(c.version);
        names.push_back(c.what);
        args += " '" + WinePath(path) + "'";
    }
    // A prefix of our own beside the test binary, made on first use.
    const RunResult r = Run("WINEPREFIX='" PE_WINE_PREFIX "' WINEDEBUG=-all '" PE_WINE_PATH
                            "' '" PE_PROBE_PATH "'" +
                            args);
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::string> lines;
    std::string line;
    for (char c : r.out) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    ASSERT_EQ(lines.size(), expected.size()) << r.out << r.err;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], expected[i] ? "ok " + *expected[i] : "fail") << names[i];
    }
}

#endif

}  // namespace
}  // namespace morivane
