// Runs the built sabunn binary on files in a fresh temporary directory.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "decode/hf.h"
#include "decode/lzss.h"
#include "tests/support/child_process.h"
#include "tests/support/seeded_content.h"
#include "tests/support/temp_dir.h"
#include "tools/encode/hf_encode.h"
#include "tools/encode/lzss_encode.h"

namespace morivane {
namespace {

namespace fs = std::filesystem;
using testdata::Bytes;

struct Outcome {
    int status;  // exit status, or -1 when the process did not exit normally
    std::string err;
};

class SabunnCli : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no temporary directory"; }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    void Write(const std::string& name, const Bytes& data) const {
        std::ofstream out(PathOf(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    Bytes Read(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    // Names of every entry in the directory, hidden ones included.
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename());
        return names;
    }

    // Runs sabunn with `args` (already quoted as needed) from the directory.
    Outcome Sabunn(const std::string& args) const {
        const morivane::testing::RunResult r = morivane::testing::RunCommand(
            "cd '" + dir_.string() + "' && '" SABUNN_PATH "' " + args, dir_);
        return {r.status, r.err};
    }

    morivane::testing::TempDir tmp_{"sabunn_cli"};
    const fs::path& dir_ = tmp_.path();
};

TEST_F(SabunnCli, PackAndUnpackRoundTrip) {
    for (const Bytes& script : {testdata::MachineCode(50000), Bytes{}, testdata::Text(9000)}) {
        SCOPED_TRACE(script.size());
        Write("script.bin", script);
        const Outcome pack = Sabunn("pack script.bin -o payload.bin");
        ASSERT_EQ(pack.status, 0) << pack.err;
        EXPECT_EQ(pack.err, "");
        const Bytes payload = Read("payload.bin");
        ASSERT_TRUE(IsHfContainer(payload));
        const ByteBuffer direct = HfLzssUnpack(payload);
        ASSERT_TRUE(direct);
        EXPECT_EQ(Bytes(direct.span().begin(), direct.span().end()), script);
        if (script.size() > 1000) {
            EXPECT_LT(payload.size(), script.size());
        }

        const Outcome unpack = Sabunn("unpack payload.bin -o back.bin");
        ASSERT_EQ(unpack.status, 0) << unpack.err;
        EXPECT_EQ(Read("back.bin"), script);
        EXPECT_EQ(Entries(), (std::set<std::string>{"script.bin", "payload.bin", "back.bin"}));
    }
}

TEST_F(SabunnCli, PlainPayloadsAreCopiesBothWays) {
    const Bytes script = testdata::MachineCode(3000);
    Write("script.bin", script);
    ASSERT_EQ(Sabunn("pack script.bin -o plain.bin --plain").status, 0);
    EXPECT_EQ(Read("plain.bin"), script);
    ASSERT_EQ(Sabunn("unpack plain.bin -o back.bin").status, 0);
    EXPECT_EQ(Read("back.bin"), script);

    // A script whose bytes 8 and 9 spell "HF" would be taken for a container.
    Bytes lookalike = script;
    lookalike[8] = 'H';
    lookalike[9] = 'F';
    Write("lookalike.bin", lookalike);
    const Outcome refused = Sabunn("pack lookalike.bin -o out.bin --plain");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("'lookalike.bin'"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(PathOf("out.bin")));
    // Compressed, the same script is fine.
    ASSERT_EQ(Sabunn("pack lookalike.bin -o out.bin").status, 0);
    ASSERT_EQ(Sabunn("unpack out.bin -o back.bin").status, 0);
    EXPECT_EQ(Read("back.bin"), lookalike);
}

TEST_F(SabunnCli, MissingInputIsNamed) {
    for (const std::string command : {"pack", "unpack"}) {
        const Outcome r = Sabunn(command + " no-such-file.bin -o out.bin");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("'no-such-file.bin'"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
        EXPECT_TRUE(Entries().empty());
    }
    // A directory is no script either.
    fs::create_directory(PathOf("sub"));
    const Outcome r = Sabunn("pack sub -o out.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'sub'"), std::string::npos) << r.err;
}

TEST_F(SabunnCli, DamagedPayloadNamesTheFailingStageAndLeavesTheOutputAlone) {
    const Bytes script = testdata::Text(20000);
    const Bytes stream = LzssCompress(script);
    Bytes cut = HfPack(stream);
    cut.resize(cut.size() - 100);  // the coded block now reaches past the end
    Write("cut.bin", cut);
    // A sound Huffman stage around an LZSS stream without its End token.
    Write("short.bin", HfPack(ByteSpan(stream).first(stream.size() - 3)));
    const Bytes old = {'o', 'l', 'd'};
    Write("script.bin", old);

    const Outcome huffman = Sabunn("unpack cut.bin -o script.bin");
    EXPECT_EQ(huffman.status, 1);
    EXPECT_NE(huffman.err.find("'cut.bin'"), std::string::npos) << huffman.err;
    EXPECT_NE(huffman.err.find(std::string("Huffman stage failed: ") +
                               DecodeStatusName(DecodeStatus::HfBlockPastEnd)),
              std::string::npos)
        << huffman.err;

    const Outcome lzss = Sabunn("unpack short.bin -o script.bin");
    EXPECT_EQ(lzss.status, 1);
    EXPECT_NE(lzss.err.find(std::string("LZSS stage failed: ") +
                            DecodeStatusName(DecodeStatus::LzssTruncated)),
              std::string::npos)
        << lzss.err;

    EXPECT_EQ(Read("script.bin"), old);
    EXPECT_EQ(Entries(), (std::set<std::string>{"cut.bin", "short.bin", "script.bin"}));
}

TEST_F(SabunnCli, UnwritableOutputFailsCleanly) {
    Write("script.bin", testdata::Text(1000));
    const Outcome r = Sabunn("pack script.bin -o missing-dir/payload.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'missing-dir/payload.bin'"), std::string::npos) << r.err;
    EXPECT_EQ(Entries(), std::set<std::string>{"script.bin"});
}

}  // namespace
}  // namespace morivane
