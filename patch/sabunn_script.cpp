#include "patch/sabunn_script.h"

#include <algorithm>
#include <utility>

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

std::string DescribeScriptFault(const ScriptFault& fault) {
    std::string text = ScriptErrorName(fault.error);
    const std::string run = std::to_string(fault.run);
    const std::string needed = std::to_string(fault.needed);
    const std::string available = std::to_string(fault.available);
    switch (fault.error) {
        case ScriptError::HeaderTruncated:
            return text + " (" + available + " bytes)";
        case ScriptError::RunListPastEnd:
        case ScriptError::OffsetListPastEnd:
        case ScriptError::PoolPastEnd:
            return text + ": it ends at byte " + needed + ", the script at byte " + available;
        case ScriptError::RunTooLong:
            return text + " (run " + run + ")";
        case ScriptError::TooManyCopyRuns:
            return text + ": run " + run + " is copy run " + needed + ", the offset list holds " +
                   available;
        case ScriptError::PoolExhausted:
            return text + ": run " + run + " takes the literal runs to " + needed +
                   " units, the pool holds " + available;
        default:
            return text;
    }
}

ScriptError ScriptView::Parse(ByteSpan bytes, ScriptView* view, ScriptFault* fault) {
    *view = ScriptView();
    ScriptFault found;
    auto refuse = [&found, fault](ScriptError error) {
        found.error = error;
        if (fault != nullptr) *fault = found;
        return error;
    };
    const std::uint64_t size = bytes.size();
    found.available = size;
    if (size < kScriptHeaderSize) return refuse(ScriptError::HeaderTruncated);
    const std::uint8_t* p = bytes.data();
    ScriptHeader h;
    h.newUnitCount = LoadLe32(p + 0);
    h.unitSize = static_cast<std::int32_t>(LoadLe32(p + 4));
    h.runCount = static_cast<std::int32_t>(LoadLe32(p + 8));
    h.copyCount = LoadLe32(p + 12);
    h.literalCount = LoadLe32(p + 16);
    if (h.unitSize <= 0) return refuse(ScriptError::BadUnitSize);
    if (h.runCount < 0) return refuse(ScriptError::NegativeRunCount);

    // Every product below fits easily in 64 bits: at most 2^32 x 2^31.
    const std::uint64_t unit = static_cast<std::uint64_t>(h.unitSize);
    const std::uint64_t runsAt = kScriptHeaderSize;
    const std::uint64_t offsetsAt = runsAt + 2 * static_cast<std::uint64_t>(h.runCount);
    const std::uint64_t poolAt = offsetsAt + 4 * static_cast<std::uint64_t>(h.copyCount);
    const std::uint64_t end = poolAt + unit * h.literalCount;
    const std::pair<std::uint64_t, ScriptError> parts[] = {{offsetsAt, ScriptError::RunListPastEnd},
                                                           {poolAt, ScriptError::OffsetListPastEnd},
                                                           {end, ScriptError::PoolPastEnd}};
    for (const auto& [partEnd, error] : parts) {
        if (partEnd > size) {
            found.needed = partEnd;
            return refuse(error);
        }
    }

    ScriptView v;
    v.header_ = h;
    v.runs_ = bytes.subspan(runsAt, offsetsAt - runsAt);
    v.offsets_ = bytes.subspan(offsetsAt, poolAt - offsetsAt);
    v.pool_ = bytes.subspan(poolAt, end - poolAt);

    ScriptSummary& s = v.summary_;
    s.scriptBytes = end;
    for (std::int32_t i = 0; i < h.runCount; ++i) {
        const std::int32_t r = v.Run(static_cast<std::size_t>(i));
        found.run = i;
        if (r == -32768) return refuse(ScriptError::RunTooLong);
        if (r > 0) {
            if (s.copyRuns == h.copyCount) {
                found.needed = s.copyRuns + 1;
                found.available = h.copyCount;
                return refuse(ScriptError::TooManyCopyRuns);
            }
            const std::uint64_t from = v.Offset(static_cast<std::size_t>(s.copyRuns));
            s.oldBytesNeeded = std::max(s.oldBytesNeeded, from + unit * r);
            s.longestCopyRun = std::max(s.longestCopyRun, r);
            ++s.copyRuns;
            s.newUnits += r;
        } else if (r < 0) {
            s.literalUnits += -r;
            if (s.literalUnits > h.literalCount) {
                found.needed = s.literalUnits;
                found.available = h.literalCount;
                return refuse(ScriptError::PoolExhausted);
            }
            s.longestLiteralRun = std::max(s.longestLiteralRun, -r);
            ++s.literalRuns;
            s.newUnits += -r;
        } else {
            ++s.zeroRuns;
        }
    }
    s.newFileBytes = s.newUnits * unit;
    *view = v;
    if (fault != nullptr) *fault = ScriptFault();
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
