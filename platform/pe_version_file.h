// A file's FileVersion read from the file itself with the PE reader, for
// systems without the Win32 version library: the same first-translation rule
// (pe/version_info.h) the Win32 calls follow.
#pragma once

#include <optional>
#include <string>

#include "seams/file_system.h"
#include "seams/host_services.h"

namespace morivane {

class PeVersionFile final : public VersionFile {
  public:
    // Files are read through `files`, which must outlive this object.
    explicit PeVersionFile(FileSystem& files) : files_(files) {}

    // Nothing when the file is missing, unreadable, larger than 2 GiB, not a
    // valid PE module, or has no FileVersion under its first translation.
    // Texts come back in UTF-8, which is the ANSI text for ASCII versions
    // such as "1, 0, 0, 1".
    std::optional<std::string> FileVersion(const std::string& path) override;

  private:
    FileSystem& files_;
};

}  // namespace morivane
