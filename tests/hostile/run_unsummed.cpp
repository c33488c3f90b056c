// Payloads without their sums. A damaged payload would then rebuild a wrong
// file that nothing tells from the right one, so `sabunn update` refuses
// such a set unless --no-sums says so, and then says that nothing was
// verified.
#include "tests/hostile/run_fixture.h"

namespace morivane::hostile {
namespace {

class Unsummed : public HostileRun {
  protected:
    void SetUp() override {
        HostileRun::SetUp();
        if (IsSkipped()) return;
        CopyPayloadsWithoutSums(tmp_.path() / "unsummed");
        payloads_ = (tmp_.path() / "unsummed").string();
    }
};

TEST_F(Unsummed, ADamagedPayloadIsRefusedUnlessTheUserTakesItUnverified) {
    // One flipped byte in the literal pool of a plain payload.
    const fs::path plain = tmp_.path() / "unsummed/139.sabunn";
    std::string bytes = Slurp(plain);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    Spit(plain, bytes);

    ExpectRefused(12, {"carries no sums beside its payloads",
                       "pass --no-sums to update without verifying anything"});

    // Taken as it is, the run goes through and says what it did not check.
    const RunResult r = Update({"--no-sums"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("--no-sums: the payloads carry no sums; nothing will be verified"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("nothing was verified (--no-sums)"), std::string::npos) << r.out;
}

TEST_F(Unsummed, WithSumsNoSumsChangesNothing) {
    // The sums are checked whenever they are there.
    payloads_ = (kDemoDir / "payloads").string();
    std::string exe = Slurp(inst_ / "Morivane.exe");
    exe[0x40] = static_cast<char>(exe[0x40] ^ 1);
    Spit(inst_ / "Morivane.exe", exe);
    ExpectRefused(7, {}, {"--no-sums"});
}

}  // namespace
}  // namespace morivane::hostile
