// Where the patcher finds its payloads: "the payload of type "SABUNN" with
// this integer id, or none". The Win32 build reads the program's own module
// resources; native builds read a directory of <id>.sabunn files or memory.
#pragma once

#include <optional>

#include "decode/bytes.h"

namespace morivane {

class PayloadStore {
  public:
    virtual ~PayloadStore() = default;
    // The bytes of payload `id` (its low 16 bits), valid for the store's
    // lifetime and never written to; nullopt when there is no such payload or
    // its bytes cannot be had.
    virtual std::optional<ByteSpan> Find(int id) = 0;
};

}  // namespace morivane
