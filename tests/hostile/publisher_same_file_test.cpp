// Outputs that are the commands' own inputs, under any name: the same path,
// a hard link, a symbolic link, the folder reached through a link, the sums
// named as the payload. Each is refused and leaves every file as it was.
// Links at an output path that lead elsewhere are replaced, never written
// through.
#include "tests/hostile/publisher_support.h"

namespace morivane::hostile {
namespace {

class PublisherSameFile : public PublisherTest {};

TEST_F(PublisherSameFile, AnOutputThatIsAnInputIsRefused) {
    MakeScene();
    fs::create_hard_link(W("old"), W("old.hard"));
    fs::create_hard_link(W("s.bin"), W("s.hard"));
    fs::create_symlink(W("new"), W("new.link"));
    fs::create_symlink(W("p.sabunn"), W("p.link"));
    // The same folder under another name.
    const std::string alias = (root_.path() / "alias").string();
    fs::create_directory_symlink(work_, alias);
    fs::create_directory(W("x"));
    fs::create_hard_link(W("m.exe"), W("x/130.sabunn"));
    fs::create_directory(W("y"));
    fs::create_symlink(W("m.exe"), W("y/130.sabunn"));

    const std::string isInput = "': it is the input '";
    const std::string isLink = "': it is a symbolic link to the input '";
    const std::string sumsAreInput = "' itself (the same file), not sums";
    const std::string namesPayload = "names the payload";

    // make: OLD, NEW, the sums beside the payload, --manifest.
    ExpectRefused({"make", W("old"), W("new"), "-o", W("old")}, W("old") + isInput + W("old"));
    ExpectRefused({"make", W("old"), W("new"), "-o", W("new")}, W("new") + isInput + W("new"));
    ExpectRefused({"make", W("old"), W("new"), "-o", W("old.hard")},
                  isInput + W("old") + "' (the same file)");
    ExpectRefused({"make", W("old"), W("new"), "-o", W("new.link")}, isLink + W("new") + "'");
    ExpectRefused({"make", W("p.sum"), W("new"), "-o", W("p.sabunn")}, W("p.sum") + isInput);
    ExpectRefused({"make", W("old"), W("new"), "-o", W("q.sabunn"), "--manifest", W("old.hard")},
                  isInput + W("old") + "'");
    ExpectRefused({"make", W("old"), W("new"), "-o", W("q.sabunn"), "--manifest", W("q.sabunn")},
                  namesPayload);
    ExpectRefused(
        {"make", W("old"), W("new"), "-o", W("q.sabunn"), "--manifest", alias + "/q.sabunn"},
        namesPayload);

    // pack and unpack.
    ExpectRefused({"pack", W("s.bin"), "-o", W("s.bin")}, W("s.bin") + isInput);
    ExpectRefused({"pack", W("s.bin"), "--plain", "-o", W("s.hard")}, "(the same file)");
    ExpectRefused({"unpack", W("p.sabunn"), "-o", W("p.sabunn")}, isInput);
    ExpectRefused({"unpack", W("p.sabunn"), "-o", alias + "/p.sabunn"}, isInput + W("p.sabunn"));

    // apply: OLD, the payload, its sums, and --manifest naming an input.
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "-o", W("old")}, W("old") + isInput);
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "-o", W("p.sabunn")}, isInput);
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "-o", W("p.sum")}, W("p.sum") + isInput);
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "-o", W("old.hard")}, "(the same file)");
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "-o", W("p.link")}, isLink);
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "--manifest", W("p.sabunn"), "-o", W("r")},
                  sumsAreInput);
    ExpectRefused({"apply", W("old"), W("p.sabunn"), "--manifest", W("old.hard"), "-o", W("r")},
                  "are the input '" + W("old") + sumsAreInput);

    // info reads only, but its sums may not be the payload either.
    ExpectRefused({"info", W("p.sabunn"), "--manifest", W("p.link")}, sumsAreInput);

    // extract: a payload's file in DIR that is the module itself.
    ExpectRefused({"extract", W("m.exe"), "-d", W("x")}, isInput + W("m.exe"));
    ExpectRefused({"extract", W("m.exe"), "-d", W("y")}, isLink + W("m.exe"));
}

// A link at the output path that leads to a file outside (not an input) is
// replaced by the new file; the file it led to keeps its bytes and its inode.
// A hard link there is replaced likewise: its other name is not written.
TEST_F(PublisherSameFile, ALinkAtTheOutputIsReplacedNotFollowed) {
    MakeScene();
    const Bytes precious = testdata::Random(100, 9);
    Write(O("precious"), precious);
    Write(O("shared"), precious);
    fs::create_symlink(O("precious"), W("out.link"));
    fs::create_symlink(O("nothing"), W("dangling"));
    fs::create_hard_link(O("shared"), W("out.hard"));
    fs::create_symlink(O("precious"), W("q.sum"));
    fs::create_directory(W("x"));
    fs::create_symlink(O("precious"), W("x/130.sabunn"));

    const Bytes script = Read(W("s.bin"));
    ExpectWrote({"pack", W("s.bin"), "--plain", "-o", W("out.link")}, {{W("out.link"), script}});
    ExpectWrote({"unpack", W("p.sabunn"), "-o", W("dangling")}, {{W("dangling"), script}});
    EXPECT_FALSE(fs::exists(fs::symlink_status(O("nothing"))));
    ExpectWrote({"apply", W("old"), W("p.sabunn"), "-o", W("out.hard")}, {{W("out.hard"), new_}});
    ExpectWrote({"extract", W("m.exe"), "-d", W("x")}, {{W("x/130.sabunn"), payload_}});
    // make: the payload and its sums beside it, which was a link.
    const Bytes sums = Read(W("p.sum"));
    ExpectWrote({"make", W("old"), W("new"), "-o", W("q.sabunn")},
                {{W("q.sabunn"), payload_}, {W("q.sum"), sums}});
    EXPECT_TRUE(Read(O("precious")) == precious);
    EXPECT_TRUE(Read(O("shared")) == precious);
}

}  // namespace
}  // namespace morivane::hostile
