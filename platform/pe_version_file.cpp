#include "platform/pe_version_file.h"

#include <memory>
#include <new>
#include <vector>

#include "pe/version_info.h"

namespace morivane {

namespace {
constexpr std::int64_t kMaxModuleSize = 0x7FFFFFFF;
}  // namespace

std::optional<std::string> PeVersionFile::FileVersion(const std::string& path) {
    const std::unique_ptr<InputFile> file = files_.OpenForReading(path);
    if (file == nullptr) return std::nullopt;
    const std::int64_t length = file->Length();
    if (length < 0 || length > kMaxModuleSize) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (length > 0 && file->Read(bytes.data(), bytes.size(), 1) != 1) return std::nullopt;
    return ReadModuleFileVersion(bytes);
}

}  // namespace morivane
