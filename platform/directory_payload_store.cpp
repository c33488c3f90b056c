#include "platform/directory_payload_store.h"

#include <utility>

namespace morivane {

DirectoryPayloadStore::DirectoryPayloadStore(FileSystem& files, std::string directory)
    : files_(files), directory_(std::move(directory)) {
    if (!directory_.empty() && directory_.back() != '/') directory_ += '/';
}

std::string DirectoryPayloadStore::PathOf(int id) const {
    return directory_ + std::to_string(id & 0xFFFF) + kPayloadExtension;
}

std::string DirectoryPayloadStore::SumsPathOf(int id) const {
    return directory_ + std::to_string(id & 0xFFFF) + kSumsExtension;
}

std::optional<ByteSpan> DirectoryPayloadStore::Find(int id) {
    return Load(PathOf(id));
}

std::optional<ByteSpan> DirectoryPayloadStore::FindSums(int id) {
    return Load(SumsPathOf(id));
}

std::optional<ByteSpan> DirectoryPayloadStore::Load(const std::string& path) {
    auto it = loaded_.find(path);
    if (it != loaded_.end()) return ByteSpan(it->second);

    std::unique_ptr<InputFile> file = files_.OpenForReading(path);
    if (file == nullptr) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> bytes = ReadAll(*file, 0x7FFFFFFF);
    if (!bytes) return std::nullopt;
    return ByteSpan(loaded_.emplace(path, std::move(*bytes)).first->second);
}

}  // namespace morivane
