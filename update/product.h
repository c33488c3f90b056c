// The fixed facts of this update: the product, the two versions, the five
// files with their payloads, and the names and time stamp the run uses. The
// product's facts are written once, in update/product_facts.cmake; the build
// generates their values into update/product_facts.h, and this header names
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "update/product_facts.h"

namespace morivane {

inline constexpr const char* kProductName = MORIVANE_FACT_PRODUCT_NAME;
// Registry layout: HKEY_LOCAL_MACHINE\SOFTWARE\KESTRON\<product> with the
// values BootDirectory (read; the full path of the executable, taken as text
// whatever its type) and Version (written as REG_SZ, NUL included).
inline constexpr const char* kProductKeyPrefix = MORIVANE_FACT_REGISTRY_KEY_PREFIX;
inline constexpr const char* kBootDirectoryValue = "BootDirectory";
inline constexpr const char* kVersionValue = "Version";

inline constexpr const char* kUpdatableFileVersion = MORIVANE_FACT_UPDATABLE_VERSION;
inline constexpr const char* kUpdatedFileVersion = MORIVANE_FACT_UPDATED_VERSION;
inline constexpr const char* kConfirmationCaption = "Morivane Update 1.0a";

// The executable's name as the product installs it; BootDirectory names it
// with its whole path.
inline constexpr const char* kExecutableName = MORIVANE_FACT_EXECUTABLE_NAME;

// One file of the update: the executable itself (relativePath null) or a
// path relative to the installation directory, and the payload that
// rebuilds it.
struct UpdateFile {
    const char* relativePath;
    int payloadId;
};

// The five files, in the order the run rebuilds them (row 0 to 4).
inline constexpr UpdateFile kUpdateFiles[] = {
#define MORIVANE_UPDATE_FILE(payloadId, relativePath) {relativePath, payloadId},
    MORIVANE_FACT_UPDATE_FILES(MORIVANE_UPDATE_FILE)
#undef MORIVANE_UPDATE_FILE
};
inline constexpr int kUpdateRows = static_cast<int>(std::size(kUpdateFiles));

// Working buffers for paths, the formatted version key and registry data:
// 259 bytes of text and the terminating NUL.
inline constexpr std::size_t kPathBufferSize = 260;
// Longest path the run builds: 299 bytes of text (300-byte buffers).
inline constexpr std::size_t kMaxRunPathLength = 299;

// Files the run makes in the installation directory, all 8.3-safe: the
// temporary file every new file is written to, the record of a run in
// progress, and the names originals are moved aside to ("Clone<n>.bak").
inline constexpr const char* kTemporaryFileName = "Clone.tmp";
inline constexpr const char* kRecordFileName = "Clone.rec";
inline constexpr const char* kAsideNamePrefix = "Clone";
inline constexpr const char* kAsideNameSuffix = ".bak";
inline constexpr int kMaxAsideNumber = 999;

// Last-access and last-modification time of every replaced file:
// 1998-10-15 15:00:00 UTC (1998-10-16 00:00:00 Japan Standard Time).
inline constexpr std::int64_t kUpdateTimestamp = MORIVANE_FACT_UPDATE_TIMESTAMP;

}  // namespace morivane
