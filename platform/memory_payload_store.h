// A payload store held in memory: the tests' store, and the store the native
// tools fill from files they have read.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "decode/bytes.h"
#include "seams/payload_store.h"

namespace morivane {

class MemoryPayloadStore final : public PayloadStore {
  public:
    // Stores a copy of `bytes` as payload `id` (its low 16 bits), replacing
    // any payload of that id; spans handed out earlier for that id become
    // invalid, those of other ids stay valid.
    void Add(int id, ByteSpan bytes) { payloads_[id & 0xFFFF].assign(bytes.begin(), bytes.end()); }
    void Add(int id, std::vector<std::uint8_t> bytes) { payloads_[id & 0xFFFF] = std::move(bytes); }
    // Stores the sums of payload `id`, likewise.
    void AddSums(int id, ByteSpan bytes) { sums_[id & 0xFFFF].assign(bytes.begin(), bytes.end()); }
    // Forgets payload `id`; false when there was none.
    bool Remove(int id) { return payloads_.erase(id & 0xFFFF) != 0; }

    // The bytes of payload `id` (low 16 bits), valid until that id is
    // replaced or removed or the store is destroyed; nullopt when absent.
    std::optional<ByteSpan> Find(int id) override {
        auto it = payloads_.find(id & 0xFFFF);
        if (it == payloads_.end()) return std::nullopt;
        return ByteSpan(it->second);
    }

    std::optional<ByteSpan> FindSums(int id) override {
        auto it = sums_.find(id & 0xFFFF);
        if (it == sums_.end()) return std::nullopt;
        return ByteSpan(it->second);
    }

  private:
    std::map<int, std::vector<std::uint8_t>> payloads_;
    std::map<int, std::vector<std::uint8_t>> sums_;
};

}  // namespace morivane
