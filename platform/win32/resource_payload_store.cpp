#include "platform/win32/resource_payload_store.h"

namespace morivane {

std::optional<ByteSpan> ResourcePayloadStore::Find(int id) {
    const WORD resourceId = static_cast<WORD>(id & 0xFFFF);
    if (resourceId == 0) return std::nullopt;
    HRSRC resource = FindResourceA(module_, MAKEINTRESOURCEA(resourceId), "SABUNN");
    if (resource == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(module_, resource);
    if (loaded == nullptr) return std::nullopt;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return std::nullopt;
    return ByteSpan(static_cast<const std::uint8_t*>(bytes), SizeofResource(module_, resource));
}

}  // namespace morivane
