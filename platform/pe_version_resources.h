// The version-resource calls (GetFileVersionInfoSizeA, GetFileVersionInfoA,
// VerQueryValueA) answered from the file itself with the PE reader, for
// platforms without them. HostEnvironment::GetFileVersionString and the
// start-up version check run on it unchanged.
//
// Block layout handed to the caller, R being the root block's wLength (the
// version resource proper; what the resource's size adds beyond it is
// padding):
//   [0, R)          the root block exactly as stored (UTF-16 texts)
//   [R, 3R)         room for the narrow form of text values: the value that
//                   starts at resource offset o is written at R + 2o as
//                   UTF-8 with a NUL (at most 3 bytes per UTF-16 unit, and
//                   the next value starts at least 8 bytes further on, so no
//                   two values overlap)
//   [3R]            one NUL byte, the text of a value that has no room
// As with the Win32 call, a text query writes into the block it is given, so
// the block must be the writable one that ReadVersionInfo filled.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "update/system_api.h"

namespace morivane {

class PeVersionResources final : public VersionResources {
  public:
    // Files are read through `files`, which must outlive this object.
    explicit PeVersionResources(FileSystem& files) : files_(files) {}

    // 3R + 1 for a PE module with a version resource (type 16, id 1, first
    // language) whose root block is R bytes long; 0 when the file is missing, unreadable, larger
    // than 2 GiB, not a valid PE module, or has no version resource (or one
    // too short for a root block header).
    // *handle is set to 0.
    std::uint32_t VersionInfoSize(const std::string& path, std::uint32_t* handle) override;
    // Reads the file again and fills `block` as laid out above; false when
    // the file no longer gives a resource of exactly that size.
    bool ReadVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size,
                         void* block) override;
    // The item at `subBlock` (see QueryVersionValue in pe/version_info.h).
    // Binary items: a pointer into the stored resource, and their length in
    // bytes, never more than the resource holds. Text items: a pointer to
    // their NUL-terminated UTF-8 form, and their stored length in units.
    // False for a missing item or a damaged resource.
    bool QueryVersionValue(const void* block, const std::string& subBlock, const void** data,
                           std::uint32_t* length) override;

  private:
    FileSystem& files_;
};

}  // namespace morivane
