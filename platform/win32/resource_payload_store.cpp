#include "platform/win32/resource_payload_store.h"

namespace morivane {

std::optional<std::span<const std::uint8_t>> ResourcePayloadStore::Find(int id) {
    return FindOfType(id, kPayloadResourceType);
}

std::optional<std::span<const std::uint8_t>> ResourcePayloadStore::FindSums(int id) {
    return FindOfType(id, kPayloadSumsResourceType);
}

std::optional<std::span<const std::uint8_t>> ResourcePayloadStore::FindOfType(int id,
                                                                              const char* type) {
    const WORD resourceId = static_cast<WORD>(id & 0xFFFF);
    if (resourceId == 0) return std::nullopt;
    HRSRC resource = FindResourceA(module_, MAKEINTRESOURCEA(resourceId), type);
    if (resource == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(module_, resource);
    if (loaded == nullptr) return std::nullopt;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return std::nullopt;
    return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes),
                                         SizeofResource(module_, resource));
}

}  // namespace morivane
