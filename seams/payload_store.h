// Where the patcher finds its payloads: "the payload of type "SABUNN" with
// this integer id, or none", and beside each payload, optionally, the sums
// that tell the files it turns into each other ("SABUNNSUM", same id). The
// Win32 build reads the program's own module resources; native builds read a
// built module as a file, a directory of <id>.sabunn and <id>.sum files, or
// memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace morivane {

// The resource types of payloads and of their sums in a Win32 module.
inline constexpr const char* kPayloadResourceType = "SABUNN";
inline constexpr const char* kPayloadSumsResourceType = "SABUNNSUM";

class PayloadStore {
  public:
    virtual ~PayloadStore() = default;
    // The bytes of payload `id` (its low 16 bits), valid for the store's
    // lifetime and never written to; nullopt when there is no such payload or
    // its bytes cannot be had.
    virtual std::optional<std::span<const std::uint8_t>> Find(int id) = 0;
    // The sums stored for payload `id`, likewise; nullopt when there are none.
    virtual std::optional<std::span<const std::uint8_t>> FindSums(int /*id*/) {
        return std::nullopt;
    }
};

}  // namespace morivane
