// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. The one temporary directory of the
// tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace morivane::testing {

class TempDir {
  public:
    // The directory's name starts with `stem`. path() is empty when it could
    // not be made.
    explicit TempDir(const std::string& stem = "morivane") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (stem + "_XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the directory, as text.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace morivane::testing
