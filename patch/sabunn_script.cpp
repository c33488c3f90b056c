#include "patch/sabunn_script.h"

#include <algorithm>

namespace morivane {

const char* ScriptErrorName(ScriptError error) {
    switch (error) {
        case ScriptError::Ok:
            return "ok";
        case ScriptError::HeaderTruncated:
            return "script shorter than its 20-byte header";
        case ScriptError::BadUnitSize:
            return "unit size is not positive";
        case ScriptError::NegativeRunCount:
            return "run count is negative";
        case ScriptError::RunListPastEnd:
            return "run list reaches past the end";
        case ScriptError::OffsetListPastEnd:
            return "offset list reaches past the end";
        case ScriptError::PoolPastEnd:
            return "literal pool reaches past the end";
        case ScriptError::RunTooLong:
            return "run entry -32768";
        case ScriptError::TooManyCopyRuns:
            return "more copy runs than offsets";
        case ScriptError::PoolExhausted:
            return "literal runs take more units than the pool holds";
    }
    return "unknown script error";
}

ScriptError ScriptView::Parse(ByteSpan bytes, ScriptView* view) {
    *view = ScriptView();
    if (bytes.size() < kScriptHeaderSize) return ScriptError::HeaderTruncated;
    const std::uint8_t* p = bytes.data();
    ScriptHeader h;
    h.newUnitCount = LoadLe32(p + 0);
    h.unitSize = static_cast<std::int32_t>(LoadLe32(p + 4));
    h.runCount = static_cast<std::int32_t>(LoadLe32(p + 8));
    h.copyCount = LoadLe32(p + 12);
    h.literalCount = LoadLe32(p + 16);
    if (h.unitSize <= 0) return ScriptError::BadUnitSize;
    if (h.runCount < 0) return ScriptError::NegativeRunCount;

    // Every product below fits easily in 64 bits: at most 2^32 x 2^31.
    const std::uint64_t size = bytes.size();
    const std::uint64_t unit = static_cast<std::uint64_t>(h.unitSize);
    const std::uint64_t runsAt = kScriptHeaderSize;
    const std::uint64_t offsetsAt = runsAt + 2 * static_cast<std::uint64_t>(h.runCount);
    const std::uint64_t poolAt = offsetsAt + 4 * static_cast<std::uint64_t>(h.copyCount);
    const std::uint64_t end = poolAt + unit * h.literalCount;
    if (offsetsAt > size) return ScriptError::RunListPastEnd;
    if (poolAt > size) return ScriptError::OffsetListPastEnd;
    if (end > size) return ScriptError::PoolPastEnd;

    ScriptView v;
    v.header_ = h;
    v.runs_ = bytes.subspan(runsAt, offsetsAt - runsAt);
    v.offsets_ = bytes.subspan(offsetsAt, poolAt - offsetsAt);
    v.pool_ = bytes.subspan(poolAt, end - poolAt);

    ScriptSummary& s = v.summary_;
    s.scriptBytes = end;
    for (std::int32_t i = 0; i < h.runCount; ++i) {
        const std::int32_t r = v.Run(static_cast<std::size_t>(i));
        if (r == -32768) return ScriptError::RunTooLong;
        if (r > 0) {
            if (s.copyRuns == h.copyCount) return ScriptError::TooManyCopyRuns;
            const std::uint64_t from = v.Offset(static_cast<std::size_t>(s.copyRuns));
            s.oldBytesNeeded = std::max(s.oldBytesNeeded, from + unit * r);
            s.longestCopyRun = std::max(s.longestCopyRun, r);
            ++s.copyRuns;
            s.newUnits += r;
        } else if (r < 0) {
            s.literalUnits += -r;
            if (s.literalUnits > h.literalCount) return ScriptError::PoolExhausted;
            s.longestLiteralRun = std::max(s.longestLiteralRun, -r);
            ++s.literalRuns;
            s.newUnits += -r;
        } else {
            ++s.zeroRuns;
        }
    }
    s.newFileBytes = s.newUnits * unit;
    *view = v;
    return ScriptError::Ok;
}

std::vector<std::uint8_t> EncodeScript(const ScriptHeader& header,
                                       std::span<const std::int16_t> runs,
                                       std::span<const std::uint32_t> offsets, ByteSpan pool) {
    std::vector<std::uint8_t> out(kScriptHeaderSize + 2 * runs.size() + 4 * offsets.size() +
                                  pool.size());
    std::uint8_t* p = out.data();
    StoreLe32(p + 0, header.newUnitCount);
    StoreLe32(p + 4, static_cast<std::uint32_t>(header.unitSize));
    StoreLe32(p + 8, static_cast<std::uint32_t>(header.runCount));
    StoreLe32(p + 12, header.copyCount);
    StoreLe32(p + 16, header.literalCount);
    p += kScriptHeaderSize;
    for (std::int16_t r : runs) {
        StoreLe16(p, static_cast<std::uint16_t>(r));
        p += 2;
    }
    for (std::uint32_t o : offsets) {
        StoreLe32(p, o);
        p += 4;
    }
    if (!pool.empty()) std::copy(pool.begin(), pool.end(), p);
    return out;
}

std::vector<std::uint8_t> EncodeScript(std::int32_t unitSize, std::span<const std::int16_t> runs,
                                       std::span<const std::uint32_t> offsets, ByteSpan pool) {
    ScriptHeader h;
    h.unitSize = unitSize;
    h.runCount = static_cast<std::int32_t>(runs.size());
    h.copyCount = static_cast<std::uint32_t>(offsets.size());
    h.literalCount = unitSize > 0 ? static_cast<std::uint32_t>(pool.size() / unitSize) : 0;
    std::uint64_t units = 0;
    for (std::int16_t r : runs) units += r < 0 ? -static_cast<std::int32_t>(r) : r;
    h.newUnitCount = static_cast<std::uint32_t>(units);
    return EncodeScript(h, runs, offsets, pool);
}

}  // namespace morivane
