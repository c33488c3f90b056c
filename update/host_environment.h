// The host probe (platform family, OS version, system language) and the
// installation lookup: the product's registry key, its executable's path and
// directory, and the executable's FileVersion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "seams/code_page.h"
#include "seams/host_services.h"

namespace morivane {

// Position of the last backslash in `path`, walking it character by character
// in code page 932 so that the second byte of a double-byte character (the
// katakana "so" is 0x83 0x5C) is never taken for a separator. npos when the
// path holds no backslash. A lead byte at the very end counts as one byte.
std::size_t FindLastBackslash(std::string_view path);

class HostEnvironment {
  public:
    // Runs the probe once: asks `os` for the version and the system default
    // language. A failed version query leaves version 0.0 with isWindowsNT
    // clear. The three services must outlive the object.
    HostEnvironment(OsInfo& os, Registry& registry, VersionFile& versions);
    virtual ~HostEnvironment() = default;

    HostEnvironment(const HostEnvironment&) = delete;
    HostEnvironment& operator=(const HostEnvironment&) = delete;

    // Whether the primary language (low 10 bits) of systemLanguage is
    // Japanese; the sublanguage is ignored.
    bool IsJapaneseSystem() const;
    // Whether the probed version is at least major.minor; the minor versions
    // are compared only when the major versions are equal.
    bool IsVersionAtLeast(std::uint32_t major, std::uint32_t minor) const;

    // The registry and version-resource operations below keep no state and
    // use none of the probe's fields. Each returns 1 on success and 0 on
    // failure, assigns its output only on success, and closes every key and
    // frees every block it acquired on every path.

    // Reads `valueName` of `subKey` under `root` (opened with KEY_READ) into
    // a 260-byte buffer; `out` gets the data up to its first NUL, never beyond
    // the bytes read. The value's type is not examined. 0 when the key or
    // value is missing or the data is longer than 260 bytes.
    int ReadRegistryString(RegistryKey root, const std::string& subKey,
                           const std::string& valueName, std::string& out);
    // Creates `subKey` under `root` (or opens it when it exists) and closes it
    // again at once.
    int CreateRegistryKey(RegistryKey root, const std::string& subKey);
    // Stores `text` as REG_SZ, its NUL included. A missing key is created
    // first. 0 when the key cannot be opened or created, or the set fails.
    int WriteRegistryString(RegistryKey root, const std::string& subKey,
                            const std::string& valueName, const std::string& text);
    // BootDirectory of HKEY_LOCAL_MACHINE\SOFTWARE\KESTRON\<productName>.
    int ReadBootPath(const std::string& productName, std::string& out);
    // BootDirectory read afresh and cut after its last backslash (kept). A
    // path with no backslash gives an empty directory, and the result is
    // still 1.
    int ReadInstallDirectory(const std::string& productName, std::string& out);
    // The FileVersion text of `path` under the first translation listed in
    // its version resource; no other translation is tried. 0 when the file
    // has no version resource, lists no translation, or has no non-empty
    // FileVersion under the first one.
    int GetFileVersionString(const std::string& path, std::string& out);
    // Reads BootDirectory afresh, reads that file's FileVersion and stores it
    // as the product key's Version value.
    int WriteVersion(const std::string& productName);

    // Probe results; set by the constructor and never changed.
    std::int32_t isWindowsNT = 0;
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint16_t systemLanguage = 0;

  private:
    Registry& registry_;
    VersionFile& versions_;
};

}  // namespace morivane
