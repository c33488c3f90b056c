#include "update/verify.h"

#include <memory>
#include <vector>

#include "patch/crc32.h"
#include "update/product.h"

namespace morivane {

SumsLookup LoadUpdateSums(PayloadStore& payloads) {
    SumsLookup lookup;
    int found = 0;
    bool malformed = false;
    for (const UpdateFile& file : kUpdateFiles) {
        const auto bytes = payloads.FindSums(file.payloadId);
        if (!bytes) continue;
        ++found;
        const std::optional<PayloadSums> sums = ParsePayloadSums(*bytes);
        if (!sums) {
            malformed = true;
            continue;
        }
        lookup.sums.push_back(*sums);
    }
    if (found == 0) return lookup;
    if (found != kUpdateRows || malformed) {
        lookup.kind = SumsLookup::Kind::kDamaged;
        lookup.sums.clear();
        return lookup;
    }
    lookup.kind = SumsLookup::Kind::kPresent;
    return lookup;
}

std::optional<FileSum> SumOfFile(FileSystem& files, const std::string& path) {
    const std::unique_ptr<InputFile> in = files.OpenForReading(path);
    if (in == nullptr) return std::nullopt;
    const std::int64_t length = in->Length();
    if (length < 0 || length > 0xFFFFFFFFll) return std::nullopt;
    // Read in pieces: the sums of the largest file never need it whole.
    std::vector<std::uint8_t> piece(64 * 1024);
    std::uint32_t crc = 0;
    std::int64_t left = length;
    while (left > 0) {
        const std::size_t want = left < static_cast<std::int64_t>(piece.size())
                                     ? static_cast<std::size_t>(left)
                                     : piece.size();
        if (in->Read(piece.data(), 1, want) != want) return std::nullopt;
        crc = Crc32({piece.data(), want}, crc);
        left -= static_cast<std::int64_t>(want);
    }
    return FileSum{static_cast<std::uint32_t>(length), crc};
}

TreeState VerifyInstallation(FileSystem& files, const InstallationPaths& paths,
                             const UpdateSums& sums) {
    if (sums.size() != paths.targets.size()) return TreeState::kNeither;
    bool allOld = true;
    bool allNew = true;
    for (std::size_t row = 0; row < sums.size() && (allOld || allNew); ++row) {
        const std::optional<FileSum> sum = SumOfFile(files, paths.targets[row]);
        allOld = allOld && sum && *sum == sums[row].oldFile;
        allNew = allNew && sum && *sum == sums[row].newFile;
    }
    if (allOld) return TreeState::kOld;
    if (allNew) return TreeState::kNew;
    return TreeState::kNeither;
}

}  // namespace morivane
