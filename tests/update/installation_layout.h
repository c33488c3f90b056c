// The installation the update-run tests work on, in the fake file system:
// where its files lie, which payload rebuilds each, and what the originals hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morivane::testing {

inline const std::string kKey = "SOFTWARE\\KESTRON\\Morivane";
inline const std::string kDir = "C:\\Morivane\\";
inline const std::string kExe = kDir + "Morivane.exe";
inline const std::vector<std::string> kTargets = {
    kExe, kDir + "dat\\Iobjectc.til", kDir + "dat\\Iobjecto.til", kDir + "dat\\Iobjecte.til",
    kDir + "dat\\Iobjecth.til"};
inline constexpr int kIds[] = {130, 137, 138, 139, 140};
inline constexpr std::int64_t kOriginalTime = 880000000;

inline std::string Original(std::size_t row) {
    return "original " + std::to_string(row);
}

}  // namespace morivane::testing
