// A payload store over a directory of files named <id>.sabunn (the id in
// decimal, no leading zeros), the native stand-in for the program's module
// resources.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "patch/payload_store.h"
#include "platform/file_system.h"

namespace morivane {

class DirectoryPayloadStore final : public PayloadStore {
  public:
    // `files` must outlive the store. `directory` is used as a prefix with a
    // '/' added when it does not end in one.
    DirectoryPayloadStore(FileSystem& files, std::string directory);

    // The whole of DIR/<id & 0xFFFF>.sabunn, read on first use and kept for
    // the store's lifetime; nullopt when the file is missing, cannot be
    // read whole, or is larger than 2 GiB.
    std::optional<ByteSpan> Find(int id) override;

    // The file that holds payload `id`.
    std::string PathOf(int id) const;

  private:
    FileSystem& files_;
    std::string directory_;
    std::map<int, std::vector<std::uint8_t>> loaded_;
};

}  // namespace morivane
