#include "platform/pe_version_file.h"

#include <memory>
#include <vector>

#include "pe/version_info.h"

namespace morivane {

namespace {
constexpr std::int64_t kMaxModuleSize = 0x7FFFFFFF;
}  // namespace

std::optional<std::string> PeVersionFile::FileVersion(const std::string& path) {
    const std::unique_ptr<InputFile> file = files_.OpenForReading(path);
    if (file == nullptr) return std::nullopt;
    const std::optional<std::vector<std::uint8_t>> bytes = ReadAll(*file, kMaxModuleSize);
    if (!bytes) return std::nullopt;
    return ReadModuleFileVersion(*bytes);
}

}  // namespace morivane
