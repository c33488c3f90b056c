// The payloads the program carries in its own module: resources of the type
// "SABUNN" with integer ids (FindResourceA, LoadResource, LockResource).
#pragma once

#include <windows.h>

#include "patch/payload_store.h"

namespace morivane {

class ResourcePayloadStore final : public PayloadStore {
  public:
    explicit ResourcePayloadStore(HINSTANCE module) : module_(module) {}

    // The resource's bytes, valid while the module is loaded; nullopt when
    // there is no "SABUNN" resource with id `id & 0xFFFF` or it cannot be
    // loaded. Id 0 names no resource.
    std::optional<ByteSpan> Find(int id) override;

  private:
    HINSTANCE module_;
};

}  // namespace morivane
