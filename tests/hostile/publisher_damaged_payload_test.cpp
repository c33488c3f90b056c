// Payloads damaged in transit, applied with `sabunn apply`. One flipped byte
// in a payload, plain or packed, must never give exit status 0 with a wrong
// file: with the sums at hand the old file is checked before and the rebuilt
// file before it is put in place; without them the command refuses unless
// told --no-sums, and then says that nothing was verified.
#include "tests/hostile/publisher_support.h"

namespace morivane::hostile {
namespace {

class PublisherDamagedPayload : public PublisherTest {
  protected:
    // Applies `payload` as d.sabunn, with the good sums as d.sum when `sums`
    // are given; the outcome must be the new file with status 0 or no output
    // with status 1, and nothing else may change. True for status 0.
    bool ApplyDamaged(const Bytes& payload, const Bytes& sums) {
        Write(W("d.sabunn"), payload);
        Write(W("d.sum"), sums);
        const auto before = Snapshot();
        const RunResult r = Sabunn({"apply", W("old"), W("d.sabunn"), "-o", W("out")});
        auto after = Snapshot();
        if (r.status == 0) {
            EXPECT_TRUE(Read(W("out")) == new_) << "a wrong file with status 0";
            after.erase("work/out");
        } else {
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_FALSE(r.err.empty());
        }
        EXPECT_EQ(after, before);
        fs::remove(W("out"));
        return r.status == 0;
    }
};

TEST_F(PublisherDamagedPayload, AFlippedByteNeverGivesAWrongFileWithSuccess) {
    MakeScene();
    const Bytes sums = Read(W("p.sum"));
    for (const std::string form : {"--plain", "--packed"}) {
        SCOPED_TRACE(form);
        const RunResult made = Sabunn({"make", W("old"), W("new"), "-o", W("f.sabunn"), form});
        ASSERT_EQ(made.status, 0) << made.err;
        const Bytes payload = Read(W("f.sabunn"));
        ASSERT_TRUE(ApplyDamaged(payload, sums));  // undamaged, it applies
        int applied = 0;
        for (std::size_t i = 0; i < payload.size(); ++i) {
            SCOPED_TRACE(i);
            Bytes damaged = payload;
            damaged[i] ^= static_cast<std::uint8_t>(i % 2 == 0 ? 0x01 : 0xA5);
            applied += ApplyDamaged(damaged, sums) ? 1 : 0;
        }
        // A flip that still rebuilds the new file is harmless; there are few.
        EXPECT_LT(applied, static_cast<int>(payload.size() / 4)) << form;
    }
}

// Damaged sums are never taken for good ones, nor for absent ones.
TEST_F(PublisherDamagedPayload, AFlippedByteInTheSumsIsRefused) {
    MakeScene();
    const Bytes sums = Read(W("p.sum"));
    ASSERT_EQ(sums.size(), 24u);
    for (std::size_t i = 0; i < sums.size(); ++i) {
        SCOPED_TRACE(i);
        Bytes damaged = sums;
        damaged[i] ^= 0x10;
        EXPECT_FALSE(ApplyDamaged(payload_, damaged));
    }
}

// Without sums a damaged payload is not applied unless the user takes the
// risk, and then the tool says it checked nothing.
TEST_F(PublisherDamagedPayload, WithoutSumsNothingIsAppliedUnlessTheUserSaysSo) {
    MakeScene();
    ASSERT_EQ(Sabunn({"make", W("old"), W("new"), "-o", W("d.sabunn"), "--plain"}).status, 0);
    fs::remove(W("d.sum"));
    Bytes damaged = Read(W("d.sabunn"));
    damaged[damaged.size() - 1] ^= 0x01;  // the last literal byte: the file comes out wrong
    Write(W("d.sabunn"), damaged);
    ExpectRefused({"apply", W("old"), W("d.sabunn"), "-o", W("out")},
                  "no sums for '" + W("d.sabunn") + "' (none at '" + W("d.sum") + "')");

    const RunResult r = Sabunn({"apply", W("old"), W("d.sabunn"), "-o", W("out"), "--no-sums"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: --no-sums: nothing was verified"), std::string::npos) << r.err;
    EXPECT_FALSE(Read(W("out")) == new_);  // what the user was warned of
}

}  // namespace
}  // namespace morivane::hostile
