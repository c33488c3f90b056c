// A payload store over the "SABUNN" resources of a Win32 module read as a
// file: the payloads a built updater carries, found as the updater finds them
// (integer id, first language stored), without the Win32 loader.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "decode/bytes.h"
#include "pe/pe_module.h"
#include "seams/payload_store.h"

namespace morivane {

class PePayloadStore final : public PayloadStore {
  public:
    // Takes the module's bytes and parses them once; Status() tells whether
    // that worked. A module that parses but carries no payloads is valid and
    // finds nothing.
    explicit PePayloadStore(std::vector<std::uint8_t> module);
    PePayloadStore(const PePayloadStore&) = delete;
    PePayloadStore& operator=(const PePayloadStore&) = delete;

    // PeStatus::Ok when the module parsed, else why it did not.
    PeStatus Status() const { return status_; }

    // The bytes of the first-language "SABUNN" resource with integer id
    // `id & 0xFFFF`, valid for the store's lifetime; nullopt when there is
    // none or the module did not parse.
    std::optional<ByteSpan> Find(int id) override;
    // The "SABUNNSUM" resource of that id, likewise.
    std::optional<ByteSpan> FindSums(int id) override;

  private:
    std::vector<std::uint8_t> bytes_;
    PeStatus status_ = PeStatus::Ok;
    std::optional<ByteSpan> FindOfType(int id, const char* type);

    std::optional<PeModule> module_;
};

}  // namespace morivane
