// Small helpers for building scripts in the patcher's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/sabunn_script.h"

namespace morivane::testing {

inline ByteSpan AsBytes(const std::string& s) {
    return ByteSpan(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// A script whose header counts follow from its lists and pool.
inline std::vector<std::uint8_t> MakeScript(std::int32_t unitSize, std::vector<std::int16_t> runs,
                                            std::vector<std::uint32_t> offsets,
                                            const std::string& pool = "") {
    return EncodeScript(unitSize, runs, offsets, AsBytes(pool));
}

// A script with a header of the caller's choosing over the given lists.
inline std::vector<std::uint8_t> MakeScript(const ScriptHeader& header,
                                            std::vector<std::int16_t> runs,
                                            std::vector<std::uint32_t> offsets,
                                            const std::string& pool = "") {
    return EncodeScript(header, runs, offsets, AsBytes(pool));
}

inline ScriptHeader Header(std::uint32_t n, std::int32_t u, std::int32_t r, std::uint32_t k,
                           std::uint32_t l) {
    ScriptHeader h;
    h.newUnitCount = n;
    h.unitSize = u;
    h.runCount = r;
    h.copyCount = k;
    h.literalCount = l;
    return h;
}

}  // namespace morivane::testing
