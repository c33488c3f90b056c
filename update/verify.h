// Checking the installation's files against the sums stored beside the
// payloads (patch/payload_sums.h): before start-up shows the dialog, every
// old file must be the one the payloads were made for; before a rebuilt file
// replaces anything, it must be the new file. A payload set without sums is
// applied unchecked, as it always was.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "patch/payload_sums.h"
#include "seams/file_system.h"
#include "seams/payload_store.h"
#include "update/installation.h"

namespace morivane {

// The sums of the five rows, in row order.
using UpdateSums = std::vector<PayloadSums>;

struct SumsLookup {
    enum class Kind {
        kNone,     // no payload carries sums: nothing is checked
        kPresent,  // every payload carries well-formed sums
        kDamaged,  // some do and some do not, or some are malformed
    };
    Kind kind = Kind::kNone;
    UpdateSums sums;
};

// The sums stored for the five payloads of the file table.
SumsLookup LoadUpdateSums(PayloadStore& payloads);

// The size and CRC-32 of the file at `path`; nothing when it cannot be read
// whole or is 4 GiB or larger.
std::optional<FileSum> SumOfFile(FileSystem& files, const std::string& path);

enum class TreeState {
    kOld,      // every target is its row's old file
    kNew,      // every target is its row's new file
    kNeither,  // anything else, a missing or unreadable target included
};

TreeState VerifyInstallation(FileSystem& files, const InstallationPaths& paths,
                             const UpdateSums& sums);

}  // namespace morivane
