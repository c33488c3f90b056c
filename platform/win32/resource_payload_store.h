// The payloads the program carries in its own module: resources of the type
// "SABUNN" with integer ids (FindResourceA, LoadResource, LockResource), and
// their sums, resources of the type "SABUNNSUM" with the same ids.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>

#include "seams/payload_store.h"

namespace morivane {

class ResourcePayloadStore final : public PayloadStore {
  public:
    explicit ResourcePayloadStore(HINSTANCE module) : module_(module) {}

    // The resource's bytes, valid while the module is loaded; nullopt when
    // there is no such resource with id `id & 0xFFFF` or it cannot be
    // loaded. Id 0 names no resource.
    std::optional<std::span<const std::uint8_t>> Find(int id) override;
    std::optional<std::span<const std::uint8_t>> FindSums(int id) override;

  private:
    std::optional<std::span<const std::uint8_t>> FindOfType(int id, const char* type);

    HINSTANCE module_;
};

}  // namespace morivane
