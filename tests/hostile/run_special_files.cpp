// FIFOs, sockets and devices planted in the installation, under the run's
// own names and in place of its files, and among the payloads. None may
// hang the update (a hang ends the child with SIGALRM and fails the case);
// the installation ends as before or wholly new, with a message that names
// what was found.
#include "tests/hostile/run_fixture.h"

namespace morivane::hostile {
namespace {

// Where one special file is planted, and what the update must make of it.
struct Place {
    const char* name;  // relative to the installation
    // 0: the update goes through, the special file gone; a message number:
    // refused with it; -1: the update goes through and the file is kept
    // under `keptAs`.
    int outcome;
    const char* keptAs;
    const char* said;  // part of what the update says about it
};

const Place kPlaces[] = {
    {"Clone.tmp", 0, "", "was left under the run's temporary name"},
    {"Clone.rec", -1, "Clone1.rec", "is not the record of an update run"},
    {"Clone1.bak", -1, "Clone1.bak", "was left under a name the run sets originals aside"},
    {"Morivane.exe", 7, "", ", not a regular file."},
    {"dat/Iobjecto.til", 7, "", ", not a regular file."},
    {"dat", 7, "", ", not a directory."},
};

struct Case {
    Special kind;
    Place place;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << WordFor(c.kind) << " as " << c.place.name;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    const char* kinds[] = {"Fifo", "Socket", "Device"};
    std::string name = std::string(kinds[static_cast<int>(info.param.kind)]) + "As";
    for (const char* c = info.param.place.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    }
    return name;
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (Special kind : {Special::kFifo, Special::kSocket, Special::kDevice}) {
        for (const Place& place : kPlaces) cases.push_back({kind, place});
    }
    return cases;
}

class SpecialFiles : public HostileRun, public ::testing::WithParamInterface<Case> {};

TEST_P(SpecialFiles, NeverHangAndLeaveTheInstallationWholeOrNew) {
    const Place& place = GetParam().place;
    const fs::path at = inst_ / place.name;
    fs::remove_all(at);
    if (!MakeSpecial(GetParam().kind, at)) {
        GTEST_SKIP() << "cannot make " << WordFor(GetParam().kind) << " here: "
                     << std::strerror(errno);
    }
    const std::string what = "'" + Real(place.name) + "' is " + WordFor(GetParam().kind);
    if (place.outcome > 0) {
        ExpectRefused(place.outcome, {what + place.said});
        return;
    }
    const Tree outside = Capture(outside_);
    const RunResult r = Update();
    ASSERT_EQ(r.signal, 0) << "the update hung or crashed\n" << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("note: '" + Real(place.name) + "' (" + WordFor(GetParam().kind) + ")"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(place.said), std::string::npos) << r.out;
    if (place.outcome == 0) {
        ExpectWhollyNew();
    } else {
        ExpectWhollyNew({place.keptAs});
        const char kinds[] = {'p', 's', 'c'};
        EXPECT_EQ(Capture(inst_)[place.keptAs].kind, kinds[static_cast<int>(GetParam().kind)]);
    }
    EXPECT_EQ(TreeDifferences(outside, Capture(outside_)), "");
}

INSTANTIATE_TEST_SUITE_P(Each, SpecialFiles, ::testing::ValuesIn(AllCases()), CaseName);

class SpecialPayloads : public HostileRun {};

TEST_F(SpecialPayloads, AFifoAmongThePayloadsIsNamedNotWaitedOn) {
    const fs::path payloads = tmp_.path() / "payloads";
    fs::copy(kDemoDir / "payloads", payloads);
    payloads_ = payloads.string();
    fs::remove(payloads / "137.sabunn");
    ASSERT_TRUE(MakeSpecial(Special::kFifo, payloads / "137.sabunn"));
    ExpectRefused(12, {"lacks payload(s) 137 ('" + (payloads / "137.sabunn").string() +
                       "' is a FIFO)"});

    // A FIFO in place of one payload's sums: the set's sums are damaged.
    fs::remove(payloads / "137.sabunn");
    fs::copy_file(kDemoDir / "payloads/137.sabunn", payloads / "137.sabunn");
    fs::remove(payloads / "139.sum");
    ASSERT_TRUE(MakeSpecial(Special::kFifo, payloads / "139.sum"));
    ExpectRefused(12, {});

    // A FIFO given as the module that carries the payloads.
    ASSERT_TRUE(MakeSpecial(Special::kFifo, tmp_.path() / "MorivaneUpdate.exe"));
    payloads_ = (tmp_.path() / "MorivaneUpdate.exe").string();
    const Tree before = Everything();
    const RunResult r = Update();
    EXPECT_EQ(r.signal, 0) << "the update hung\n" << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot read '" + payloads_ + "': it is a FIFO, not a regular file"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(TreeDifferences(before, Everything()), "");
}

TEST_F(SpecialPayloads, AFifoRecordWithoutSumsIsRefusedAtEveryStartWithoutHanging) {
    CopyPayloadsWithoutSums(tmp_.path() / "unsummed");
    payloads_ = (tmp_.path() / "unsummed").string();
    ASSERT_TRUE(MakeSpecial(Special::kFifo, inst_ / "Clone.rec"));
    for (int start = 0; start < 2; ++start) {
        ExpectRefused(7, {"'" + Real("Clone.rec") + "' is a FIFO, not the record of an update run"},
                      {"--no-sums"});
    }
}

}  // namespace
}  // namespace morivane::hostile
