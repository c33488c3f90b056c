#include "platform/pe_payload_store.h"

namespace morivane {

PePayloadStore::PePayloadStore(std::vector<std::uint8_t> module) : bytes_(std::move(module)) {
    // The parsed module points into bytes_, which never moves again.
    module_ = PeModule::Parse(bytes_, &status_);
}

std::optional<ByteSpan> PePayloadStore::Find(int id) {
    return FindOfType(id, kPayloadResourceType);
}

std::optional<ByteSpan> PePayloadStore::FindSums(int id) {
    return FindOfType(id, kPayloadSumsResourceType);
}

std::optional<ByteSpan> PePayloadStore::FindOfType(int id, const char* type) {
    if (!module_) return std::nullopt;
    const Resource* payload = module_->Find(
        ResourceId::Named(type), ResourceId::Number(static_cast<std::uint16_t>(id & 0xFFFF)));
    if (payload == nullptr) return std::nullopt;
    return payload->data;
}

}  // namespace morivane
