// A payload store over a directory of files named <id>.sabunn and, for the
// sums beside each payload, <id>.sum (the id in decimal, no leading zeros):
// the native stand-in for the program's module resources.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "decode/bytes.h"
#include "seams/file_system.h"
#include "seams/payload_store.h"

namespace morivane {

inline constexpr const char* kPayloadExtension = ".sabunn";
inline constexpr const char* kSumsExtension = ".sum";

class DirectoryPayloadStore final : public PayloadStore {
  public:
    // `files` must outlive the store. `directory` is used as a prefix with a
    // '/' added when it does not end in one.
    DirectoryPayloadStore(FileSystem& files, std::string directory);

    // The whole of DIR/<id & 0xFFFF>.sabunn (or .sum), read on first use and
    // kept for the store's lifetime; nullopt when the file is missing, cannot
    // be read whole, or is larger than 2 GiB.
    std::optional<ByteSpan> Find(int id) override;
    std::optional<ByteSpan> FindSums(int id) override;

    // The files that hold payload `id` and its sums.
    std::string PathOf(int id) const;
    std::string SumsPathOf(int id) const;

  private:
    std::optional<ByteSpan> Load(const std::string& path);

    FileSystem& files_;
    std::string directory_;
    std::map<std::string, std::vector<std::uint8_t>> loaded_;
};

}  // namespace morivane
