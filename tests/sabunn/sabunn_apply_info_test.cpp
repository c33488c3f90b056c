// `sabunn apply` and `sabunn info`, run as a publisher would run them.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "patch/payload_sums.h"
#include "tests/support/test_scripts.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/encode/payload.h"

namespace morivane {
namespace {

namespace fs = std::filesystem;
using testing::MakeScript;

class SabunnTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir.empty()) << "no temporary directory"; }
    std::string Path(const std::string& name) const { return (dir / name).string(); }

    static void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    // The sums of a payload that turns `old` into `neu`.
    static void WriteSums(const std::string& path, const std::string& old, const std::string& neu) {
        const auto sums =
            EncodePayloadSums({*SumOf(testing::AsBytes(old)), *SumOf(testing::AsBytes(neu))});
        Write(path, std::vector<std::uint8_t>(sums.begin(), sums.end()));
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Runs sabunn with `args`; returns its exit status, fills out and err.
    int Run(const std::string& args) {
        const testing::RunResult r =
            testing::RunCommand(std::string(SABUNN_PATH) + " " + args, dir);
        out = r.out;
        err = r.err;
        return r.status;
    }

    // Names in the directory, other than the ones given.
    std::vector<std::string> OtherFiles(std::vector<std::string> known) const {
        std::vector<std::string> other;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (std::find(known.begin(), known.end(), name) == known.end()) other.push_back(name);
        }
        return other;
    }

    testing::TempDir tmp{"sabunn_apply"};
    const fs::path& dir = tmp.path();
    std::string out;
    std::string err;
};

TEST_F(SabunnTest, ApplyRebuildsTheNewFileInPlace) {
    Write(Path("old"), "ABCDEFGHIJKL");
    const auto script = MakeScript(4, {1, -1, 2, 1, -2}, {6, 1, 0}, "wxyz12345678");
    const std::string expected = "GHIJwxyzBCDEFGHIABCD12345678";
    Write(Path("plain.sabunn"), script);
    Write(Path("packed.sabunn"), PackPayload(script));
    WriteSums(Path("plain.sum"), "ABCDEFGHIJKL", expected);
    WriteSums(Path("packed.sum"), "ABCDEFGHIJKL", expected);

    ASSERT_EQ(Run("apply " + Path("old") + " " + Path("plain.sabunn") + " -o " + Path("new")), 0)
        << err;
    EXPECT_EQ(Read(Path("new")), expected);
    EXPECT_EQ(err, "");
    ASSERT_EQ(Run("apply " + Path("old") + " " + Path("packed.sabunn") + " -o " + Path("new")), 0)
        << err;
    EXPECT_EQ(Read(Path("new")), expected);

    // A directory of <id>.sabunn files, with the id; the sums are <id>.sum.
    fs::create_directory(dir / "payloads");
    fs::copy_file(dir / "packed.sabunn", dir / "payloads" / "137.sabunn");
    fs::copy_file(dir / "packed.sum", dir / "payloads" / "137.sum");
    ASSERT_EQ(Run("apply " + Path("old") + " " + Path("payloads") + " --id 137 -o " + Path("d")), 0)
        << err;
    EXPECT_EQ(Read(Path("d")), expected);
    EXPECT_NE(Run("apply " + Path("old") + " " + Path("payloads") + " -o " + Path("e")), 0);

    // NEW may not name OLD: the old file is an input, and stays as it was.
    EXPECT_EQ(Run("apply " + Path("old") + " " + Path("plain.sabunn") + " -o " + Path("old")), 1);
    EXPECT_NE(err.find("refusing to write '" + Path("old") + "': it is the input"),
              std::string::npos)
        << err;
    EXPECT_EQ(Read(Path("old")), "ABCDEFGHIJKL");
    EXPECT_EQ(OtherFiles({"old", "new", "d", "plain.sabunn", "packed.sabunn", "plain.sum",
                          "packed.sum", "payloads"}),
              std::vector<std::string>{});
}

TEST_F(SabunnTest, ApplyFailuresPrintTheMessageAndLeaveNoNewFile) {
    const auto script = MakeScript(4, {1}, {8});  // needs an old file of 12 bytes
    Write(Path("p.sabunn"), script);

    EXPECT_NE(
        Run("apply --no-sums " + Path("missing") + " " + Path("p.sabunn") + " -o " + Path("new")),
        0);
    EXPECT_NE(err.find("message 10: 他のアプリケーション等でMorivaneの実行ファイルを参照してい"
                       "可能性があります。"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("(Another application may be using Morivane's executable file."),
              std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists(dir / "new"));

    // Too short for the script: 12, and an existing NEW keeps its content.
    Write(Path("old"), "ABCD");
    Write(Path("new"), "previous");
    EXPECT_NE(Run("apply --no-sums " + Path("old") + " " + Path("p.sabunn") + " -o " + Path("new")),
              0);
    EXPECT_NE(err.find("message 12: アップデートに失敗しました。"), std::string::npos) << err;
    // Under the message, what the patcher found wrong.
    EXPECT_NE(err.find("(The update failed. Check that Morivane works, then run the update "
                       "again.)\nsabunn:   cause: the old file is 8 bytes too short: the script "
                       "copies up to byte 12, the old file holds 4 in whole units; copy run 0 is "
                       "the first to reach past its end\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(Read(Path("new")), "previous");
    EXPECT_EQ(OtherFiles({"old", "new", "p.sabunn"}), std::vector<std::string>{});

    // A packed payload cut short: the block that reaches past its end.
    std::vector<std::uint8_t> packed = PackPayload(script);
    packed.pop_back();
    Write(Path("cut.sabunn"), packed);
    Write(Path("old"), "ABCDEFGHIJKL");
    EXPECT_NE(
        Run("apply --no-sums " + Path("old") + " " + Path("cut.sabunn") + " -o " + Path("new")), 0);
    EXPECT_NE(err.find("again.)\nsabunn:   cause: the payload does not decode: Huffman stage "
                       "failed: HF block reaches past the end of the container (block 0 at byte "
                       "24)\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(Read(Path("new")), "previous");
    std::filesystem::remove(dir / "cut.sabunn");

    EXPECT_NE(Run("apply --no-sums " + Path("old") + " " + Path("p.sabunn") + " -o " +
                  Path("no/such/new")),
              0);
    EXPECT_NE(err.find("message 11: "), std::string::npos) << err;
}

// The sums decide: an old file that is not the one the payload was made for
// is refused before anything is written; a rebuilt file that is not the new
// one is never put in place; without sums nothing is applied unless the user
// says --no-sums, and then the tool says that nothing was verified.
TEST_F(SabunnTest, ApplyChecksBothFilesAgainstTheSums) {
    const std::string old = "ABCDEFGHIJKL";
    const std::string expected = "GHIJwxyzBCDEFGHIABCD12345678";
    Write(Path("old"), old);
    Write(Path("p.sabunn"), MakeScript(4, {1, -1, 2, 1, -2}, {6, 1, 0}, "wxyz12345678"));
    Write(Path("new"), "previous");
    const std::string apply =
        "apply " + Path("old") + " " + Path("p.sabunn") + " -o " + Path("new");
    const auto unchanged = [&] {
        EXPECT_EQ(Read(Path("new")), "previous");
        EXPECT_EQ(Read(Path("old")), old);
    };

    // No sums: refused, with the way out named.
    EXPECT_EQ(Run(apply), 1);
    EXPECT_NE(err.find("no sums for '" + Path("p.sabunn") + "' (none at '" + Path("p.sum")),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("--no-sums"), std::string::npos) << err;
    unchanged();

    // Another old file than the sums describe: refused before the patcher runs.
    WriteSums(Path("p.sum"), "ABCDEFGHIJKM", expected);
    EXPECT_EQ(Run(apply), 1);
    EXPECT_NE(err.find("'" + Path("old") + "' is size 12, CRC-32 0x"), std::string::npos) << err;
    EXPECT_NE(err.find("is not the old file this payload was made for"), std::string::npos) << err;
    EXPECT_EQ(err.find("message "), std::string::npos) << err;
    unchanged();

    // The right old file, but the sums expect another new file: the rebuilt
    // one is not put in place.
    WriteSums(Path("p.sum"), old, expected + "!");
    EXPECT_EQ(Run(apply), 1);
    EXPECT_NE(err.find("the rebuilt file is size 28, CRC-32 0x"), std::string::npos) << err;
    EXPECT_NE(err.find("message 12: "), std::string::npos) << err;
    unchanged();

    // Sums that are no sums are refused, not taken for absent ones.
    Write(Path("p.sum"), std::string("not sums"));
    EXPECT_EQ(Run(apply), 1);
    EXPECT_NE(err.find("holds no sums"), std::string::npos) << err;
    unchanged();

    // Given with --manifest, they are used instead of those beside the payload.
    WriteSums(Path("right.sum"), old, expected);
    ASSERT_EQ(Run(apply + " --manifest " + Path("right.sum")), 0) << err;
    EXPECT_EQ(Read(Path("new")), expected);
    EXPECT_EQ(err, "");

    // --no-sums applies unchecked and says so.
    fs::remove(dir / "p.sum");
    fs::remove(dir / "new");
    ASSERT_EQ(Run(apply + " --no-sums"), 0) << err;
    EXPECT_EQ(Read(Path("new")), expected);
    EXPECT_NE(err.find("warning: --no-sums: nothing was verified"), std::string::npos) << err;
    EXPECT_NE(Run(apply + " --no-sums --manifest " + Path("right.sum")), 0);
}

TEST_F(SabunnTest, InfoDescribesStoredFormAndScript) {
    // Copy runs 4 @0, 2 @100, 7 @64; literal runs of 3 and 1 units of 32 bytes.
    std::string pool;
    for (int i = 0; i < 4 * 32; ++i) pool += static_cast<char>('a' + i % 26);
    const auto script = MakeScript(32, {4, -3, 2, 0, -1, 7}, {0, 100, 64}, pool);
    Write(Path("plain.sabunn"), script);
    const auto packed = PackPayload(script);
    Write(Path("packed.sabunn"), packed);

    ASSERT_EQ(Run("info --json " + Path("plain.sabunn")), 0) << err;
    EXPECT_NE(out.find("\"stored\": \"plain\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"script_bytes\": " + std::to_string(20 + 12 + 12 + 128)),
              std::string::npos);
    EXPECT_NE(out.find("\"new_units\": 17"), std::string::npos) << out;
    EXPECT_NE(out.find("\"run_count\": 6"), std::string::npos);
    EXPECT_NE(out.find("\"new_file_bytes\": 544"), std::string::npos);
    EXPECT_NE(out.find("\"old_file_bytes_needed\": 288"), std::string::npos);
    EXPECT_NE(out.find("\"longest_copy_run\": 7"), std::string::npos);
    EXPECT_NE(out.find("\"longest_literal_run\": 3"), std::string::npos);

    ASSERT_EQ(Run("info --json " + Path("packed.sabunn")), 0) << err;
    EXPECT_NE(out.find("\"stored\": \"hf\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"container_bytes\": " + std::to_string(packed.size())), std::string::npos);
    EXPECT_NE(out.find("\"B\": "), std::string::npos);
    EXPECT_NE(out.find("\"new_file_bytes\": 544"), std::string::npos);

    ASSERT_EQ(Run("info " + Path("packed.sabunn")), 0) << err;
    EXPECT_NE(out.find("HF container"), std::string::npos) << out;
    EXPECT_NE(out.find("old file size needed  288 bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("sums                  none"), std::string::npos) << out;

    // The sums beside the payload, found by its name or given; damaged ones said so.
    const auto sums = EncodePayloadSums({{288, 0x01020304}, {544, 0xCAFEF00D}});
    Write(Path("packed.sum"), std::vector<std::uint8_t>(sums.begin(), sums.end()));
    ASSERT_EQ(Run("info " + Path("packed.sabunn")), 0) << err;
    EXPECT_NE(out.find("  old file            size 288, CRC-32 0x01020304"), std::string::npos)
        << out;
    EXPECT_NE(out.find("  new file            size 544, CRC-32 0xCAFEF00D"), std::string::npos);
    ASSERT_EQ(Run("info --json " + Path("plain.sabunn") + " --manifest " + Path("packed.sum")), 0);
    EXPECT_NE(out.find("\"new_crc32\": " + std::to_string(0xCAFEF00Du)), std::string::npos) << out;
    Write(Path("plain.sum"), std::string("not sums"));
    ASSERT_EQ(Run("info --json " + Path("plain.sabunn")), 0);
    EXPECT_NE(out.find("\"sums\": \"damaged\""), std::string::npos) << out;

    // Damaged: a truncated container, and a plain script whose pool is cut.
    Write(Path("cut.sabunn"), std::vector<std::uint8_t>(packed.begin(), packed.end() - 2));
    EXPECT_NE(Run("info " + Path("cut.sabunn")), 0);
    EXPECT_NE(err.find("damaged"), std::string::npos) << err;
    Write(Path("short.sabunn"), std::vector<std::uint8_t>(script.begin(), script.end() - 1));
    EXPECT_NE(Run("info --json " + Path("short.sabunn")), 0);
    EXPECT_NE(out.find("\"error\": \"literal pool reaches past the end\""), std::string::npos)
        << out;
}

// Whatever bytes the payload's path holds, --json prints JSON a strict parser
// takes: bytes that are not UTF-8 become U+FFFD in "payload", and
// "payload_hex" gives the path exactly; for a UTF-8 path it is null.
TEST_F(SabunnTest, InfoJsonIsValidForPathsThatAreNotUtf8) {
    const auto script = MakeScript(32, {2, -1}, {0}, std::string(32, 'q'));
    const auto packed = PackPayload(script);
    // "表" in code page 932 (0x95 0x5C: a stray continuation byte, then a
    // backslash), a byte no UTF-8 sequence holds, and a control character.
    const std::string cp932 = "\x95\x5c\xff\x01.sabunn";
    const std::string utf8 = "表.sabunn";
    for (const std::string& name : {std::string("ascii.sabunn"), cp932, utf8}) {
        Write(Path(name), packed);
    }
    Write(Path("cut-" + cp932), std::vector<std::uint8_t>(packed.begin(), packed.end() - 2));

    using Json = nlohmann::ordered_json;
    const auto info = [this](const std::string& name, int status) {
        EXPECT_EQ(Run("info --json '" + Path(name) + "'"), status) << err;
        const Json report = Json::parse(out, nullptr, /*allow_exceptions=*/false);
        if (!report.is_discarded()) return report;
        ADD_FAILURE() << "not JSON: " << out;
        return Json::object();
    };
    const auto unhex = [](const Json& hex) {
        std::string bytes;
        const std::string digits = hex.is_string() ? hex.get<std::string>() : "";
        for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
        }
        return bytes;
    };

    Json plain = info("ascii.sabunn", 0);
    EXPECT_EQ(plain["payload"], Path("ascii.sabunn"));
    EXPECT_TRUE(plain["payload_hex"].is_null());
    Json named = info(utf8, 0);
    EXPECT_EQ(named["payload"], Path(utf8));
    EXPECT_TRUE(named["payload_hex"].is_null());
    Json shiftJis = info(cp932, 0);
    EXPECT_EQ(shiftJis["payload"], dir.string() + "/\uFFFD\\\uFFFD\x01.sabunn");
    EXPECT_EQ(unhex(shiftJis["payload_hex"]), Path(cp932));

    // Apart from the path, the three describe the same payload alike.
    for (Json* report : {&plain, &named, &shiftJis}) {
        report->erase("payload");
        report->erase("payload_hex");
    }
    EXPECT_EQ(named, plain);
    EXPECT_EQ(shiftJis, plain);
    EXPECT_EQ(plain["new_file_bytes"], 96);

    // A damaged payload under such a name: still JSON, with the error.
    const Json cut = info("cut-" + cp932, 1);
    EXPECT_EQ(unhex(cut["payload_hex"]), Path("cut-" + cp932));
    EXPECT_TRUE(cut["error"].is_string()) << out;
}

}  // namespace
}  // namespace morivane
