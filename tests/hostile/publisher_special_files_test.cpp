// FIFOs, sockets, devices and directories where the publisher's commands
// expect a file: as an input, as the sums beside a payload, as a payload in a
// payload directory, and as an output. Each is refused at once with a message
// that says what it is, and left as it was; nothing is written. Before, a
// FIFO given as an input hung the command in open() until it was killed.
#include <sys/sysmacros.h>

#include "tests/hostile/publisher_support.h"

namespace morivane::hostile {
namespace {

class PublisherSpecialFiles : public PublisherTest {
  protected:
    // The special files, each named for its kind, and what the message calls it.
    void MakeSpecialFiles() {
        MakeFifo(W("fifo"));
        fs::create_symlink(W("fifo"), W("fifo.link"));
        MakeSocket(W("socket"));
        fs::create_directory(W("directory"));
        // A device node like /dev/null, made here so that nothing of the
        // system's is at stake (the tests run as root).
        ASSERT_EQ(::mknod(W("device").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
    }
    const std::vector<std::pair<std::string, std::string>> kinds_ = {
        {"fifo", "a FIFO"},
        {"fifo.link", "a FIFO"},
        {"socket", "a socket"},
        {"directory", "a directory"},
        {"device", "a character device"}};
};

TEST_F(PublisherSpecialFiles, AsAnInputAreRefusedWithoutWaiting) {
    MakeScene();
    MakeSpecialFiles();
    for (const auto& [name, kind] : kinds_) {
        const std::string k = W(name);
        const std::string message =
            "cannot read '" + k + "': it is " + kind + ", not a regular file";
        ExpectRefused({"make", k, W("new"), "-o", W("q.sabunn")}, message);
        ExpectRefused({"make", W("old"), k, "-o", W("q.sabunn")}, message);
        ExpectRefused({"info", k}, message);
        ExpectRefused({"info", W("p.sabunn"), "--manifest", k}, message);
        ExpectRefused({"apply", k, W("p.sabunn"), "-o", W("r")}, message);
        if (name != "directory") {  // a directory is a payload directory
            ExpectRefused({"apply", W("old"), k, "-o", W("r")}, message);
        }
        ExpectRefused({"apply", W("old"), W("p.sabunn"), "--manifest", k, "-o", W("r")}, message);
        ExpectRefused({"pack", k, "-o", W("q")}, message);
        ExpectRefused({"unpack", k, "-o", W("q")}, message);
        ExpectRefused({"extract", k, "-d", W("x")}, message);
    }
}

// The files a command finds by itself: the sums beside a payload, and the
// payload and its sums in a payload directory.
TEST_F(PublisherSpecialFiles, FoundBesideAPayloadOrInAPayloadDirectoryAreRefused) {
    MakeScene();
    MakeFifo(W("f.sum"));
    Write(W("f.sabunn"), payload_);
    const std::string fifoSums = "cannot read '" + W("f.sum") + "': it is a FIFO";
    ExpectRefused({"info", W("f.sabunn")}, fifoSums);
    ExpectRefused({"apply", W("old"), W("f.sabunn"), "-o", W("r")}, fifoSums);

    fs::create_directory(W("d"));
    MakeFifo(W("d/130.sabunn"));
    ExpectRefused({"apply", W("old"), W("d"), "--id", "130", "-o", W("r")},
                  "cannot read '" + W("d") + "/130.sabunn': it is a FIFO");
    fs::create_directory(W("e"));
    Write(W("e/130.sabunn"), payload_);
    MakeSocket(W("e/130.sum"));
    ExpectRefused({"apply", W("old"), W("e"), "--id", "130", "-o", W("r")},
                  "cannot read '" + W("e") + "/130.sum': it is a socket");
}

TEST_F(PublisherSpecialFiles, AsAnOutputAreLeftAlone) {
    MakeScene();
    MakeSpecialFiles();
    for (const auto& [name, kind] : kinds_) {
        if (name == "fifo.link") continue;  // a link at the output is replaced
        const std::string k = W(name);
        const std::string message = "refusing to write '" + k + "': it is " + kind +
                                    ", not a regular file; it is left alone";
        ExpectRefused({"pack", W("s.bin"), "-o", k}, message);
        ExpectRefused({"unpack", W("p.sabunn"), "-o", k}, message);
        ExpectRefused({"make", W("old"), W("new"), "-o", k}, message);
        ExpectRefused({"make", W("old"), W("new"), "-o", W("q.sabunn"), "--manifest", k}, message);
        ExpectRefused({"apply", W("old"), W("p.sabunn"), "-o", k}, message);
    }
    // The sums beside a new payload, and a payload's file in extract's DIR.
    MakeFifo(W("q.sum"));
    ExpectRefused({"make", W("old"), W("new"), "-o", W("q.sabunn")},
                  "refusing to write '" + W("q.sum") + "': it is a FIFO");
    fs::create_directory(W("x"));
    MakeFifo(W("x/130.sabunn"));
    ExpectRefused({"extract", W("m.exe"), "-d", W("x")},
                  "refusing to write '" + W("x") + "/130.sabunn': it is a FIFO");
}

}  // namespace
}  // namespace morivane::hostile
