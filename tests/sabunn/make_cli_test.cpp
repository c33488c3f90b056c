// `sabunn make` as the publisher runs it: files in a fresh directory, the
// payload checked with `sabunn apply`, and refusals that leave nothing behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "patch/payload_sums.h"
#include "tests/support/child_process.h"
#include "tests/support/seeded_content.h"
#include "tests/support/temp_dir.h"

namespace morivane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class MakeCli : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no temporary directory"; }

    void Write(const std::string& name, const Bytes& data) const {
        std::ofstream out(dir_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    Bytes Read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename());
        return names;
    }
    // Exit status and stderr of sabunn run with `args` in the directory; its
    // standard output goes to *out when given.
    std::pair<int, std::string> Sabunn(const std::string& args, std::string* out = nullptr) const {
        const testing::RunResult r =
            testing::RunCommand("cd '" + dir_.string() + "' && '" SABUNN_PATH "' " + args, dir_);
        if (out != nullptr) *out = r.out;
        return {r.status, r.err};
    }

    testing::TempDir tmp_{"sabunn_make"};
    const fs::path& dir_ = tmp_.path();
};

TEST_F(MakeCli, PayloadsApplyBackToTheNewFile) {
    const Bytes old = testdata::Text(100000, 1);
    Bytes neu(old.begin() + 16, old.begin() + 16 + 64000);
    const Bytes fresh = testdata::Text(6400, 2);
    neu.insert(neu.begin() + 32000, fresh.begin(), fresh.end());
    Write("old.bin", old);
    Write("new.bin", neu);

    for (const std::string form : {"", " --plain"}) {
        SCOPED_TRACE(form);
        const auto [status, err] = Sabunn("make old.bin new.bin -o p.sabunn" + form);
        ASSERT_EQ(status, 0) << err;
        EXPECT_EQ(IsHfContainer(Read("p.sabunn")), form.empty());
        const auto [applied, applyErr] = Sabunn("apply old.bin p.sabunn -o out.bin");
        ASSERT_EQ(applied, 0) << applyErr;
        EXPECT_TRUE(Read("out.bin") == neu);
        // Beside the payload, the sums of the two files it turns into each other.
        EXPECT_EQ(ParsePayloadSums(Read("p.sum")),
                  std::optional(PayloadSums{*SumOf(old), *SumOf(neu)}));
    }
    // No temporary file is left beside the payload.
    EXPECT_EQ(Entries(),
              (std::set<std::string>{"old.bin", "new.bin", "p.sabunn", "p.sum", "out.bin"}));
}

TEST_F(MakeCli, ChoosesTheUnitForAFileOfAnyLengthAndSaysWhereTheBytesGo) {
    const Bytes old = testdata::Text(50001, 6);
    Bytes neu = old;  // 50,001 = 3 * 7 * 2381: units of 1, 3, 7 and 21 bytes fit
    neu[300] = '#';
    Write("old.bin", old);
    Write("new.bin", neu);
    std::string out;
    const auto [status, err] = Sabunn("make old.bin new.bin -o p.sabunn --breakdown", &out);
    ASSERT_EQ(status, 0) << err;
    const auto [applied, applyErr] = Sabunn("apply old.bin p.sabunn -o out.bin");
    ASSERT_EQ(applied, 0) << applyErr;
    EXPECT_TRUE(Read("out.bin") == neu);
    for (const char* line : {"U = 1 ", "U = 3 ", "U = 7 ", "U = 21 ", "kept", "run list",
                             "offset list", "literal pool", "total"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
    }
    EXPECT_EQ(out.find("U = 2 "), std::string::npos) << out;
}

TEST_F(MakeCli, RefusesAPartialUnitAndWritesNothing) {
    Write("old.bin", testdata::Random(4096, 3));
    Write("new.bin", testdata::Random(1000, 4));
    const auto [status, err] = Sabunn("make old.bin new.bin -o p.sabunn --unit 32");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("--unit 25 or --unit 8 or --unit 1"), std::string::npos) << err;
    EXPECT_EQ(Entries(), (std::set<std::string>{"old.bin", "new.bin"}));

    // The suggested unit works.
    const auto [retry, retryErr] = Sabunn("make old.bin new.bin -o p.sabunn --unit 8");
    EXPECT_EQ(retry, 0) << retryErr;
}

TEST_F(MakeCli, MissingInputIsReportedAndAnExistingPayloadKept) {
    Write("p.sabunn", Bytes{1, 2, 3});
    Write("new.bin", testdata::Random(64, 5));
    const auto [status, err] = Sabunn("make nothing.bin new.bin -o p.sabunn");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("nothing.bin"), std::string::npos) << err;
    EXPECT_EQ(Read("p.sabunn"), (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace morivane
