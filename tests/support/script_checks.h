// What every script and payload the builder makes must satisfy, checked the
// way the updater will meet them: through DiffPatcher.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "patch/diff_patcher.h"
#include "patch/sabunn_script.h"
#include "platform/memory_payload_store.h"
#include "tests/support/memory_file_system.h"

namespace morivane::testing {

// What the patcher made of a payload (a plain script or a container).
struct Applied {
    int result = -1;
    Bytes rebuilt;
};

inline Applied ApplyPayload(const Bytes& old, const Bytes& payload) {
    MemoryFileSystem files;
    files.Put("old", old);
    MemoryPayloadStore store;
    store.Add(1, payload);
    DiffPatcher patcher(files, store);
    Applied a;
    a.result = patcher.Patch("old", "new", 1);
    a.rebuilt = files.Get("new");
    return a;
}

inline std::vector<int> RunsOf(const ScriptView& v) {
    std::vector<int> runs;
    for (int i = 0; i < v.Header().runCount; ++i) {
        runs.push_back(v.Run(static_cast<std::size_t>(i)));
    }
    return runs;
}

inline std::vector<std::uint32_t> OffsetsOf(const ScriptView& v) {
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < v.Header().copyCount; ++i) offsets.push_back(v.Offset(i));
    return offsets;
}

// A plain script built for old -> neu with units of `unit` bytes: it parses
// with counts that agree with its lists, has no 0 entry, no run over 32,767
// units and nothing after the pool, copies only from inside the old file (never
// from the zero padding), and the patcher rebuilds `neu` from it. Returns its
// view (valid while `script` lives), empty when it does not parse.
inline ScriptView ExpectSoundScript(const Bytes& old, const Bytes& neu, const Bytes& script,
                                    int unit) {
    ScriptView v;
    EXPECT_EQ(ScriptView::Parse(script, &v), ScriptError::Ok);
    const Applied a = ApplyPayload(old, script);
    EXPECT_EQ(a.result, 0);
    EXPECT_TRUE(a.rebuilt == neu) << "rebuilt " << a.rebuilt.size() << " bytes, want "
                                  << neu.size();
    if (ScriptView::Parse(script, &v) != ScriptError::Ok) return v;
    const ScriptSummary& s = v.Summary();
    EXPECT_TRUE(s.IsConsistent(v.Header()));
    EXPECT_EQ(s.zeroRuns, 0u);
    EXPECT_EQ(s.scriptBytes, script.size());
    EXPECT_EQ(v.Header().unitSize, unit);
    EXPECT_EQ(v.Header().newUnitCount, neu.size() / static_cast<std::size_t>(unit));
    EXPECT_LE(s.oldBytesNeeded, old.size());
    EXPECT_LE(s.longestCopyRun, kScriptMaxRun);
    EXPECT_LE(s.longestLiteralRun, kScriptMaxRun);
    return v;
}

}  // namespace morivane::testing
